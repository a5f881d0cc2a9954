#pragma once
// The article viewer's conversation on feature connection 4: one article fetched on a
// short-lived connection and shown as text (the header block, then the body or the
// attachment decoded to text), or saved raw as "<number>.UUE" for the parts list.
#include "FeatureConversation.h"
#include <QString>

namespace vt {

class AppCore;
class HeaderStore;
class NewsgroupTable;
class Session;

// Every line feed becomes CR LF.
QString UnixToDos(const QString &text);

class ArticleViewer : public FeatureConversation {
    Q_OBJECT
public:
    ArticleViewer(AppCore &core, Session &session, NewsgroupTable &groups, QObject *parent = nullptr);

    QString viewTitle;
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
    void status(const QString &text, bool newLine = true) override;
    QString DecodeForViewer(const QByteArray &article);

signals:
    void textChanged(const QString &text);

private:
    void onArticle(const QByteArray &raw) override;
    void onProgress() override;
    void onOtherReply() override { status(QStringLiteral("."), false); }
    void showArticle(const QByteArray &raw);
    void SaveRawArticle(const QByteArray &raw);
    void setText(const QString &t);

    QString m_caption, m_text;
};

} // namespace vt
