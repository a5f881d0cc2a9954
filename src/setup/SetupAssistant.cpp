#include "SetupAssistant.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "groups/HostGroupList.h"
#include "nntp/ReplyKind.h"
#include "nntp/Session.h"
#include <QHostInfo>

namespace vt {

namespace {
const QString kBr = QStringLiteral("\r\n");
}

SetupAssistant::SetupAssistant(AppCore &core, Session &session, HostGroupList &hostGroups, QObject *parent)
    : QObject(parent), m_core(core), m_session(session), m_hostGroups(hostGroups)
{
    connect(&conn, &Connection::replyReceived, this, &SetupAssistant::onReply);
    connect(&conn, &Connection::socketError, this, [this](const QString &text) { onError(conn.socket()->error(), text); });
    connect(&m_hostGroups, &HostGroupList::stateChanged, this, &SetupAssistant::followDownload);
    connect(&m_hostGroups, &HostGroupList::statusChanged, this, [this](const QString &t, int, bool forAssistant) {
        if (!forAssistant) return;
        dlgText = t;
        emit changed();
    });
}

QString SetupAssistant::pageText(int page, const QString &serverName)
{
    switch (page) {
    case 0: return kBr + QStringLiteral("Hi, I'm Vanty.") + kBr + kBr + QStringLiteral("  I'd be happy to help you to get started using Vantrel if you want.");
    case 1: return kBr + kBr + QStringLiteral("I'm very sorry but we have a problem.");
    case 2: return kBr + kBr + QStringLiteral("Please enter your news server name and port.");
    case 3:
        return kBr + QStringLiteral("Your server may require you to login with a username and password.") + kBr + kBr
               + QStringLiteral("If so, please click the checkbox and enter this information now.");
    case 5:
        return QStringLiteral("Select the folder where downloded files will be saved (or folders made).") + kBr + kBr
               + QStringLiteral("I highly reccomend that you make a new folder for this purpose, like ~/incoming or something like that.");
    case 6: return kBr + QStringLiteral("Do you want to create sub-folders for each newsgroup?");
    case 7: return kBr + QStringLiteral("Would you like for me to download your hosts complete list of newsgroups?");
    case 8: return kBr + QStringLiteral("From this screen you can download the list of newsgroups from ") + serverName;
    case 9:
        return kBr + QStringLiteral("Ok, cool!  Here's a list of what we accomplished.") + kBr + kBr
               + QStringLiteral("Click Next when you are done reading.");
    case 10:
        return kBr + QStringLiteral("Just a couple of tips on how to use Vantrel.") + kBr + kBr
               + QStringLiteral("Press Finish! when you are done reading.");
    case 11: return kBr + kBr + QStringLiteral("Thanks for using Vantrel!");
    default: return {};
    }
}

int SetupAssistant::errorNumber(QAbstractSocket::SocketError e, const QString &description)
{
    if (e == QAbstractSocket::ConnectionRefusedError) return 10061;
    if (e == QAbstractSocket::HostNotFoundError) {
        // Qt reports a lookup that may work later with the resolver's own words.
        const QString d = description.toLower();
        return d.contains(QLatin1String("temporar")) || d.contains(QLatin1String("try again")) ? 11002 : 11001;
    }
    return int(e);
}

QString SetupAssistant::errorSay(int number)
{
    switch (number) {
    case 10061:
        return QStringLiteral("Oops.  That was not your news server.  The machine at this address is refusing our connection.  Note that "
                              "this is not the same as the news server error '502 connection refused' -- we aren't getting that far.  "
                              "Hit the back button and try again.");
    case 11001:
        return QStringLiteral("Oops.  I don't think that's your correct news server name.  Hit the back button and try again.  If you "
                              "keep getting this, contact your ISP admin to find out your news server name.");
    case 11002:
        return QStringLiteral("Hmm...  Please be sure we are connected to the internet.  Hit the back button and try again.  If you keep "
                              "getting this, contact your ISP admin for help.");
    default:
        return QStringLiteral("Oops.  I don't know about this (") + QString::number(number)
               + QStringLiteral(").  Hit the back button and try again.  I may just be confused.  If you think this is a bogus "
                                "error and believe your server is correct, click next to continue.");
    }
}

void SetupAssistant::load()
{
    currentPage = 0;
    activate();
    ShowPage();
}

// What the login dialog and the options hold so far.
void SetupAssistant::activate()
{
    const Settings &s = m_core.settings;
    if (!s.Download_Path.isEmpty()) setPath(s.Download_Path);
    auth = s.chkAuth;
    useSsl = s.chkSSL;
    userName = s.User_Name;
    password = s.password;
    savePassword = s.chkSavePassword;
    emit changed();
}

void SetupAssistant::setPath(const QString &folder)
{
    path = folder.endsWith(u'/') ? folder : folder + u'/';
    emit changed();
}

void SetupAssistant::setUseSsl(bool on)
{
    useSsl = on;
    port = portAfterTlsSwitch(port, on);
    emit changed();
}

void SetupAssistant::setServerName(const QString &name)
{
    serverName = name;
    if (currentPage == 2) nextEnabled = !name.isEmpty();
    emit changed();
}

void SetupAssistant::ShowPage()
{
    backEnabled = currentPage > 0 && !downloadBusy;
    nextCaption = currentPage < 10 ? QStringLiteral("&Next \u00bb") : QStringLiteral("&Finish!");
    if (currentPage == 2) {
        nextEnabled = !serverName.isEmpty();
    } else {
        nextEnabled = !downloadBusy;
        if (currentPage == 11 || currentPage == 1) nextEnabled = false;
    }
    SetPageText(currentPage);
    if (currentPage == 8) emit loadHostGroups();
    emit changed();
}

void SetupAssistant::SetPageText(int page)
{
    vanty = page == 4 ? lastSay : pageText(page, serverName);
    if (page != 9) return;
    Settings &s = m_core.settings;
    s.Download_Path = path;
    finalLines[0] = QStringLiteral("1. We set up and verified ") + serverName + u'.' + kBr
                    + QStringLiteral(" (You can change this later on the login screen that comes up when you press the 'scan' button on the main screen.)");
    finalLines[1] = QStringLiteral("2. We set your base download path: ") + kBr + path;
    if (usePaths) finalLines[1] += kBr + QStringLiteral(" Vantrel will create a sub-folder for each newsgroup.");
    s.chkMakeSubDirs = usePaths;
    emit settingsChanged();
    finalLines[2] = m_hostGroups.hostGroupsReady
                        ? QStringLiteral("3. We downloaded a list of newsgroups.")
                        : QStringLiteral("3. You decided to skip downloading a list of newsgroups for now.  (You can download them later from the host newsgroups query window.)");
}

void SetupAssistant::next()
{
    if (currentPage == 0 && !aolOrMsn) {
        currentPage = 2;   // page 1 is for AOL and MSN users only
        ShowPage();
        return;
    }
    if (currentPage == 7 && !getGroups) {
        currentPage = 9;
        ShowPage();
        return;
    }
    if (currentPage >= kPages - 1) return;
    ++currentPage;
    ShowPage();
    if (currentPage == 4) TestServer();
}

void SetupAssistant::back()
{
    const int was = currentPage;
    if (currentPage == 2 && !aolOrMsn) currentPage = 0;
    else if (currentPage == 9 && !getGroups) currentPage = 7;
    else if (currentPage >= 1) --currentPage;
    if (was == 0 && currentPage == 0) return;
    ShowPage();
}

void SetupAssistant::Say(const QString &text)
{
    lastSay = text.size() < 50 ? kBr + text : text;
    vanty = lastSay;
    emit changed();
}

void SetupAssistant::send(const QByteArray &line) { m_session.sendOn(ConnectionId::Assistant, line); }

void SetupAssistant::SendTestGroup()
{
    send("GROUP alt.test");
}

void SetupAssistant::SendTestQuit()
{
    send("QUIT");
}

void SetupAssistant::showInBubble(const QString &text)
{
    vanty = text;
    emit changed();
}

void SetupAssistant::TestServer()
{
    Say(QStringLiteral("Please wait while I check your server."));
    nextEnabled = false;
    errorShown = false;
    tstShown.fill(false);
    m_groupRefusals = 0;
    if (port.trimmed().isEmpty()) port = QStringLiteral("119");
    quint16 portValue = 0;
    if (!portNumber(port, &portValue)) {
        // Cut to 16 bits it would be another port, tried without a word.
        errorText = QStringLiteral("Not a port: ") + port;
        errorShown = true;
        Say(QStringLiteral("Oops.  \"") + port + QStringLiteral("\" is not a port number: it is a number from 1 to 65535 (119 for news, 563 for news over TLS).  Hit the back button and try again."));
        return;
    }
    if (!conn.isClosed()) {
        Say(QStringLiteral("Connection Error, please wait..."));
        conn.close();
    }
    // The test logs in with what the user typed here, without MODE READER or SLAVE.
    login.start({false, auth, false, userName.toLatin1(), password.toLatin1()});
    if (!conn.isClosed()) {
        Say(QStringLiteral("Connection Error..."));
    } else {
        errorText = QStringLiteral("Connecting...");
        errorShown = true;
        conn.connectTo(serverName.trimmed(), portValue, useSsl);
    }
    emit changed();
}

void SetupAssistant::onReply(const Reply &r)
{
    const QString line = QString::fromLatin1(r.firstLine());
    if (r.multiline) {
        // The header of a random article: the test is through.
        if (replyKind(r.code) == ReplyKind::Head) tstShown[2] = true;
        SendTestQuit();
        emit changed();
        return;
    }
    const ReplyKind kind = replyKind(r.code);
    if (kind == ReplyKind::PasswordWanted) vanty.clear();   // before: a missing password is told here
    // The login's progress shows in Vanty's bubble, its end in the status lines.
    const auto say = [this](const QString &t) {
        if (t.startsWith(QLatin1String("Authenticating"))) {
            vanty = t;
            emit changed();
        } else {
            Say(t);
        }
    };
    const auto greeted = [this](const QByteArray &) {
        serverGreeted = true;
        tstShown[0] = true;
    };
    switch (m_session.login(ConnectionId::Assistant, login, r, say, greeted)) {
    case Session::LoginStep::Ready: SendTestGroup(); emit changed(); return;
    case Session::LoginStep::Taken: emit changed(); return;
    case Session::LoginStep::NotMine: break;
    }
    switch (kind == ReplyKind::ServerError && r.code != 500 ? ReplyKind::Unknown : kind) {
    case ReplyKind::GroupLost: Say(QStringLiteral("421 end of group")); break;   // the scan connection is not ours to touch
    case ReplyKind::NoSuchNumber: Say(QStringLiteral("423 no such article number in this group")); break;
    case ReplyKind::ServerError:
        Say(line);
        // Once more (reader mode may just have been switched on); never in a loop.
        if (++m_groupRefusals < 2) SendTestGroup();
        else send("QUIT");
        break;
    case ReplyKind::SlaveOk: Say(line); SendTestGroup(); break;
    case ReplyKind::Stat: Say(QStringLiteral("223 article retrieved - request text separately")); break;
    case ReplyKind::GroupSelected:
        tstShown[1] = true;
        send("HEAD");
        break;
    case ReplyKind::NoSuchGroup:
    case ReplyKind::NoGroupSelected: send("QUIT"); break;
    case ReplyKind::Goodbye:
        tstShown[3] = true;
        conn.close();
        ServerVerified();
        break;
    case ReplyKind::Refused: Say(QStringLiteral("Authentication Error.  Check Username/Password...")); break;
    default: break;
    }
    emit changed();
}

void SetupAssistant::ServerVerified()
{
    if (serverGreeted) {
        errorText = QStringLiteral("Server verified.");
        errorShown = true;
        Say(QStringLiteral("Looks good to me, click Next to continue."));
        nextEnabled = true;
    }
    Settings &s = m_core.settings;
    s.News_Host = serverName;
    s.News_Port = port;
    s.chkSSL = useSsl;
    if (auth) {
        s.chkAuth = true;
        s.password = password;
        s.User_Name = userName;
        // What the user ticked here holds in the login dialog too.
        s.chkSavePassword = savePassword;
    }
    emit settingsChanged();
    emit changed();
}

// Which server was tried, and what the system said: the words above are the same for every
// server.
QString SetupAssistant::triedText() const
{
    return QStringLiteral("\r\n\r\n(Tried ") + serverName.trimmed() + QStringLiteral(", port ") + port.trimmed() + QStringLiteral(": ")
           + errorText + QStringLiteral(".)");
}

void SetupAssistant::onError(QAbstractSocket::SocketError e, const QString &description)
{
    if (e == QAbstractSocket::RemoteHostClosedError) return;
    errorText = description;
    errorShown = true;
    conn.close();
    if (e == QAbstractSocket::HostNotFoundError && !description.contains(QLatin1String("emporar"))) {
        // The socket says "Host not found" for every failed lookup; the resolver itself
        // tells a name that does not exist from one it could not ask about now.
        QHostInfo::lookupHost(serverName.trimmed(), this, [this](const QHostInfo &info) {
            Say(errorSay(info.error() == QHostInfo::UnknownError ? 11002 : 11001) + triedText());
            emit changed();
        });
        emit changed();
        return;
    }
    const int n = errorNumber(e, errorText);
    Say(errorSay(n) + triedText());
    if (n != 10061 && n != 11001 && n != 11002) nextEnabled = true;
    emit changed();
}

void SetupAssistant::startGroupDownload()
{
    m_hostGroups.download(true);
    followDownload();
}

void SetupAssistant::followDownload()
{
    if (!m_hostGroups.hostGroupsForAssistant) return;
    const bool busy = m_hostGroups.downloading();
    if (busy == downloadBusy) return;
    downloadBusy = busy;
    backEnabled = !busy && currentPage > 0;
    nextEnabled = !busy && currentPage != 1 && currentPage != 11;
    emit changed();
}

void SetupAssistant::cancel()
{
    if (!conn.isClosed()) conn.close();
    m_hostGroups.closed();
    m_hostGroups.hostGroupsForAssistant = false;
}

} // namespace vt
