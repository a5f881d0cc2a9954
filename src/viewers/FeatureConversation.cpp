#include "FeatureConversation.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
#include "nntp/ReplyKind.h"
#include "nntp/Session.h"

namespace vt {

FeatureConversation::FeatureConversation(AppCore &core, Session &session, NewsgroupTable &groups, ConnectionId connection,
                                         QObject *parent)
    : QObject(parent), m_core(core), m_session(session), m_groups(groups), m_connection(connection)
{
    connect(&conn, &Connection::replyReceived, this, &FeatureConversation::onReply);
    connect(&conn, &Connection::dataArrived, this, [this] {
        if (conn.receivingMultiline()) onProgress();
    });
    connect(&conn, &Connection::socketError, this, [this](const QString &e) { status(QStringLiteral("Connection Error: ") + e); });
}

bool FeatureConversation::openConnection()
{
    m_attempt = 1;
    m_groupRefusals = 0;
    login.start(m_session.loginOptions(m_core.settings.chkModeReader));
    return m_session.connectFeature(conn, [this](const QString &t) { status(t); });
}

// Feature connections 3..6 are the send routine's numbers 1..4.
void FeatureConversation::send(const QByteArray &line) { m_session.sendOn(m_connection, line); }

void FeatureConversation::sendGroup()
{
    send("GROUP " + m_groups.nameByKey(viewGroupKey).toLatin1());
}

void FeatureConversation::onReply(const Reply &r)
{
    const ReplyKind kind = replyKind(r.code);
    if (r.multiline) {
        if (kind == ReplyKind::Article) onArticle(r.data);   // only an article is asked for
        return;
    }
    switch (m_session.login(m_connection, login, r, [this](const QString &t) { status(t); })) {
    case Session::LoginStep::Ready: sendGroup(); return;
    case Session::LoginStep::Taken: return;
    case Session::LoginStep::NotMine: break;
    }
    const QString line = QString::fromLatin1(r.firstLine());
    switch (kind) {
    case ReplyKind::GroupLost:
        // The server is going away; the scan connection is not this window's business.
        status(line);
        break;
    case ReplyKind::ServerError:
        status(line);
        // Asked once more (the connection may just have switched to reader mode); a server
        // that refuses again is not asked a third time, and the connection says goodbye.
        if (++m_groupRefusals < 2) sendGroup();
        else send("QUIT");
        break;
    case ReplyKind::SlaveOk:
        status(line);
        sendGroup();
        break;
    case ReplyKind::Stat: status(QStringLiteral("223 article retrieved - request text separately")); break;
    case ReplyKind::Head: break;
    case ReplyKind::GroupSelected:
        status(m_downloadingText);
        m_attempt = 1;
        send("ARTICLE " + viewMessageId.toLatin1());
        break;
    case ReplyKind::NoSuchId:
        if (m_attempt != 2) {
            m_attempt = 2;
            send("ARTICLE " + viewArticleNumber.toLatin1());
        } else {
            status(m_expiredText);
        }
        break;
    case ReplyKind::NoSuchNumber: status(QStringLiteral("Bad article number!  This article has been deleted from server.")); break;
    case ReplyKind::Goodbye: break;
    case ReplyKind::Unavailable: status(line + QStringLiteral("Error:")); break;
    case ReplyKind::Refused: status(QStringLiteral("Authentication Error.  Check Username/Password...")); break;
    default: onOtherReply(); break;
    }
}

} // namespace vt
