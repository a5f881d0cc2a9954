#pragma once
// The first-run assistant's engine: the twelve pages and their moves, the guide's texts,
// the live test of the server on feature connection 6, and what it hands to the settings
// (server and login after a good test, the download folder and sub-folders on the summary
// page). The window binds its controls to these fields.
#include "nntp/Connection.h"
#include "nntp/LoginSequence.h"
#include <QAbstractSocket>
#include <QObject>
#include <array>

namespace vt {

class AppCore;
class HostGroupList;
class Session;

class SetupAssistant : public QObject {
    Q_OBJECT
public:
    SetupAssistant(AppCore &core, Session &session, HostGroupList &hostGroups, QObject *parent = nullptr);

    static constexpr int kPages = 12;
    static QString pageText(int page, const QString &serverName);
    // The guide's words for a socket error (numbered as the connection reports them).
    static int errorNumber(QAbstractSocket::SocketError e, const QString &description);
    // "(Tried HOST, port PORT: what the system said.)", after an error's words.
    QString triedText() const;
    static QString errorSay(int number);

    // What the pages edit.
    bool aolOrMsn = false;          // optF1(1)
    QString serverName, port;       // txtServerName, txtPort
    bool auth = false, savePassword = false;
    bool useSsl = false;            // chkSSL
    QString userName, password;
    QString path;                   // lblPath, ends with "/"
    bool usePaths = true;           // optUsePaths(0)
    bool getGroups = true;          // optGetGroups(0)

    // What the window shows.
    int currentPage = 0;
    bool serverGreeted = false;
    QString lastSay, vanty = QStringLiteral("Hi!  I'm Vanty.  I'm here to help you get started using Vantrel.");
    bool backEnabled = false, nextEnabled = true;
    QString nextCaption;
    std::array<bool, 4> tstShown{};
    QString errorText;
    bool errorShown = false;
    std::array<QString, 3> finalLines;
    QString dlgText = QStringLiteral("Press the GO button to begin the download.");   // lblDLG
    bool downloadBusy = false;   // Back and Next wait for the group download

    void load();                                // window load
    void activate();                            // window activation: copy from the settings
    void ShowPage();
    void next();
    void back();
    void Say(const QString &text);
    void TestServer();
    void ServerVerified();
    void setServerName(const QString &name);
    // TLS on moves the standard port 119 to 563 (and back).
    void setUseSsl(bool on);
    void setPath(const QString &folder);        // the folder list moved
    void startGroupDownload();                  // page 8's GO
    void cancel();
    Connection conn;
    // Vanty's bubble: what the login says while it runs, and a missing password.
    void showInBubble(const QString &text);
    LoginSequence login;

signals:
    void changed();
    void loadHostGroups();   // page 8: the host group window is loaded, not shown
    void settingsChanged();  // the login or the download folder was handed over

private:
    int m_groupRefusals = 0;   // 500 answers to the test's GROUP
    void SetPageText(int page);
    void onReply(const Reply &r);
    void onError(QAbstractSocket::SocketError e, const QString &description);
    void send(const QByteArray &line);
    void SendTestGroup();
    void SendTestQuit();
    void followDownload();

    AppCore &m_core;
    Session &m_session;
    HostGroupList &m_hostGroups;
};

} // namespace vt
