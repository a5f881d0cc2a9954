#pragma once
// The opening of an NNTP connection as one state machine, shared by every connection of the
// program: the greeting, MODE READER, AUTHINFO USER/PASS (asked for by the settings or by a
// 480 at any time), SLAVE, compression when asked for (COMPRESS DEFLATE, else XFEATURE
// COMPRESS GZIP, else XZVER where the server knows it), and then ready for the
// connection's own work. It takes replies
// and gives actions; it never touches a socket, so it is tested on its own.
#include <QByteArray>
#include <vector>

namespace vt {

class LoginSequence {
public:
    struct Options {
        bool modeReader = false;   // MODE READER right after the greeting
        bool auth = false;         // log in without waiting for a 480
        bool slave = false;        // SLAVE once logged in
        QByteArray user, password;
        bool compress = false;     // compression last: whatever the answer, the work goes on
    };
    enum class Stage { Greeting, ModeReader, User, Password, Slave, Compress, CompressGzip, CompressXzver, Ready };
    struct Action {
        enum Kind {
            Send,              // line: the command to send
            Say,               // line: a status text
            Greeted,           // line: the server's greeting (or its answer to MODE READER)
            Ready,             // the connection's own work may start (again)
            MissingUser,       // the server wants a user name and none is set
            MissingPassword,
            Compressed,        // from the byte after this reply on, both directions are deflated
            GzipReplies,       // overviews marked "[COMPRESS=GZIP]" come compressed from now on
            XzverKnown,        // overviews are to be asked for with XZVER
            NotCompressed,     // line: the server's refusal; the connection goes on plain
        } kind;
        QByteArray line;
        bool operator==(const Action &o) const { return kind == o.kind && line == o.line; }
    };

    // A new connection.
    void start(const Options &o);
    // False: the reply is not part of logging in; the connection's own table takes it.
    bool take(int code, const QByteArray &line, std::vector<Action> &out);
    Stage stage() const { return m_stage; }
    bool ready() const { return m_stage == Stage::Ready; }

private:
    void afterGreeting(std::vector<Action> &out);
    void askUser(std::vector<Action> &out);
    void askPassword(std::vector<Action> &out);
    void askCredential(bool password, std::vector<Action> &out);
    void loggedIn(std::vector<Action> &out);
    void afterAuth(std::vector<Action> &out);
    void ready(std::vector<Action> &out);

    Options m_opt;
    Stage m_stage = Stage::Greeting;
};

} // namespace vt
