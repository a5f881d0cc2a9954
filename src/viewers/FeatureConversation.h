#pragma once
// The conversation that fetches one article on a feature connection: greeting, optional
// MODE READER, login and SLAVE, GROUP, ARTICLE by message-id and, after a 430, by number.
// The article viewer and the preview differ only in their texts and what they do with
// the article.
#include "nntp/Connection.h"
#include "nntp/LoginSequence.h"
#include <QObject>
#include <QString>

namespace vt {

class AppCore;
class NewsgroupTable;
class Session;

class FeatureConversation : public QObject {
    Q_OBJECT
public:
    // The request, set before opening.
    QString viewArticleNumber, viewMessageId;
    qint32 viewSize = 0;
    quint8 viewGroupKey = 0;
    Connection conn;
    ConnectionId connection() const { return m_connection; }
    LoginSequence login;

protected:
    FeatureConversation(AppCore &core, Session &session, NewsgroupTable &groups, ConnectionId connection, QObject *parent);
    // Connects for the request; false when no server is set (the message was shown).
    bool openConnection();

    virtual void status(const QString &text, bool newLine = true) = 0;
    virtual void onArticle(const QByteArray &raw) = 0;   // the complete 220 reply
    virtual void onProgress() = 0;                       // a chunk of the article arrived
    virtual void onOtherReply() {}

    QString m_downloadingText = QStringLiteral("Downloading...");
    QString m_expiredText = QStringLiteral("Article expired.  This article has been deleted from server.");

    void send(const QByteArray &line);
    void sendGroup();

    AppCore &m_core;
    Session &m_session;
    NewsgroupTable &m_groups;
    int m_attempt = 1;
    int m_groupRefusals = 0;   // 500 answers to GROUP for this request

private:
    void onReply(const Reply &r);
    ConnectionId m_connection;
};

} // namespace vt
