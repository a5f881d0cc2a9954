#include "FeatureConversation.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
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
    if (r.multiline) {
        if (r.code == 220) onArticle(r.data);   // only an article is asked for
        return;
    }
    switch (m_session.login(m_connection, login, r, [this](const QString &t) { status(t); })) {
    case Session::LoginStep::Ready: sendGroup(); return;
    case Session::LoginStep::Taken: return;
    case Session::LoginStep::NotMine: break;
    }
    const QString line = QString::fromLatin1(r.firstLine());
    switch (r.code) {
    case 421:
        // The server is going away; the scan connection is not this window's business.
        status(line);
        break;
    case 500: status(line); sendGroup(); break;
    case 202:
        status(line);
        sendGroup();
        break;
    case 223: status(QStringLiteral("223 article retrieved - request text separately")); break;
    case 221: break;
    case 211:
        status(m_downloadingText);
        m_attempt = 1;
        send("ARTICLE " + viewMessageId.toLatin1());
        break;
    case 430:
        if (m_attempt != 2) {
            m_attempt = 2;
            send("ARTICLE " + viewArticleNumber.toLatin1());
        } else {
            status(m_expiredText);
        }
        break;
    case 423: status(QStringLiteral("Bad article number!  This article has been deleted from server.")); break;
    case 205: break;
    case 400:
    case 503: status(line + QStringLiteral("Error:")); break;
    case 502: status(QStringLiteral("Authentication Error.  Check Username/Password...")); break;
    default: onOtherReply(); break;
    }
}

} // namespace vt
