#pragma once
// The article viewer's conversation on feature connection 4: one article fetched on a
// short-lived connection and shown as text (the header block, then the body or the
// attachment decoded to text), or saved raw as "<number>.UUE" for the parts list.
#include "nntp/Connection.h"
#include <QObject>
#include <QString>

namespace vt {

class AppCore;
class HeaderStore;
class NewsgroupTable;
class Session;

// Every line feed becomes CR LF.
QString UnixToDos(const QString &text);

class ArticleViewer : public QObject {
    Q_OBJECT
public:
    ArticleViewer(AppCore &core, Session &session, NewsgroupTable &groups, QObject *parent = nullptr);

    // The request, set before opening.
    QString viewTitle, viewArticleNumber, viewMessageId;
    qint32 viewSize = 0;
    quint8 viewGroupKey = 0;
    int viewSaveMode = 0;

    static constexpr qint32 kMaxArticle = 100000;
    static constexpr int kMaxDisplay = 31000;

    // Fills the request from part 1 of an item; false (with the message) when too large.
    bool requestItem(const HeaderStore &store, int item);
    // Caption and connection; false when no server is set (the message was shown).
    bool open();
    // The window went away: the next opening shows text again.
    void closed();

    QString caption() const { return m_caption; }
    QString text() const { return m_text; }
    void status(const QString &text, bool newLine = true);
    QString DecodeForViewer(const QByteArray &article);
    Connection conn;

signals:
    void textChanged(const QString &text);

private:
    void onReply(const Reply &r);
    void onData();
    void sendGroup();
    void send(const QByteArray &line);
    void showArticle(const QByteArray &raw);
    void SaveRawArticle(const QByteArray &raw);
    void setText(const QString &t);

    AppCore &m_core;
    Session &m_session;
    NewsgroupTable &m_groups;
    QString m_caption, m_text;
    int m_attempt = 1;
    qint64 m_received = 0;
};

} // namespace vt
