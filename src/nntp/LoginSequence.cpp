#include "LoginSequence.h"
#include "ReplyKind.h"

namespace vt {

void LoginSequence::start(const Options &o)
{
    m_opt = o;
    m_stage = Stage::Greeting;
}

bool LoginSequence::take(int code, const QByteArray &line, std::vector<Action> &out)
{
    const ReplyKind kind = replyKind(code);
    const bool hello = kind == ReplyKind::Greeting;
    switch (m_stage) {
    case Stage::Greeting:
        if (!hello) break;
        if (m_opt.modeReader) {
            out.push_back({Action::Say, "Sending MODE READER request"});
            out.push_back({Action::Send, "MODE READER"});
            m_stage = Stage::ModeReader;
            return true;
        }
        out.push_back({Action::Greeted, line});
        afterGreeting(out);
        return true;
    case Stage::ModeReader:
        if (!hello) break;
        out.push_back({Action::Greeted, line});
        afterGreeting(out);
        return true;
    case Stage::User:
        // The password asked for, or none needed: as in any stage, below.
        if (kind == ReplyKind::PasswordWanted || kind == ReplyKind::LoggedIn) break;
        return false;
    case Stage::Password:
        if (kind == ReplyKind::LoggedIn) break;
        return false;
    case Stage::Slave:
        if (kind == ReplyKind::SlaveOk) {
            out.push_back({Action::Say, line});
            ready(out);
            return true;
        }
        break;
    case Stage::Compress:
    case Stage::CompressGzip:
    case Stage::CompressXzver: {
        // A login asked for first is done first; each kind refused, the next is asked for
        // (XZVER with no group selected: a server that knows it wants a group first);
        // the last refused leaves the connection plain.
        if (kind == ReplyKind::LoginWanted || kind == ReplyKind::PasswordWanted || kind == ReplyKind::LoggedIn) break;
        Action done{Action::NotCompressed, line};
        if (m_stage == Stage::Compress) {
            if (kind != ReplyKind::CompressionOn) {
                out.push_back({Action::Send, "XFEATURE COMPRESS GZIP"});
                m_stage = Stage::CompressGzip;
                return true;
            }
            done.kind = Action::Compressed;
        } else if (m_stage == Stage::CompressGzip) {
            if (kind != ReplyKind::FeatureOn) {
                out.push_back({Action::Send, "XZVER"});
                m_stage = Stage::CompressXzver;
                return true;
            }
            done.kind = Action::GzipReplies;
        } else if (kind == ReplyKind::NoGroupSelected || kind == ReplyKind::NoCurrentArticle) {
            done.kind = Action::XzverKnown;
        }
        m_opt.compress = false;
        out.push_back(done);
        m_stage = Stage::Ready;
        out.push_back({Action::Ready, {}});
        return true;
    }
    case Stage::Ready:
        // A greeting on a working connection starts over (a server that restarted the
        // conversation); reader mode is not asked twice.
        if (hello) {
            out.push_back({Action::Greeted, line});
            afterGreeting(out);
            return true;
        }
        break;
    }
    // What any stage answers: a 480 asks for the login, a 381 for the password, a 281
    // ends a login.
    if (kind == ReplyKind::LoginWanted) {
        askUser(out);
        return true;
    }
    if (kind == ReplyKind::PasswordWanted) {
        askPassword(out);
        return true;
    }
    if (kind == ReplyKind::LoggedIn) {
        loggedIn(out);
        return true;
    }
    return false;
}

void LoginSequence::afterGreeting(std::vector<Action> &out)
{
    if (m_opt.auth) askUser(out);
    else afterAuth(out);
}

void LoginSequence::askUser(std::vector<Action> &out) { askCredential(false, out); }

void LoginSequence::askPassword(std::vector<Action> &out) { askCredential(true, out); }

// The two login steps differ only in their texts and what they send.
void LoginSequence::askCredential(bool password, std::vector<Action> &out)
{
    out.push_back({Action::Say, password ? "Authenticating Password..." : "Authenticating User Name..."});
    const QByteArray &value = password ? m_opt.password : m_opt.user;
    if (value.isEmpty()) {
        out.push_back({password ? Action::MissingPassword : Action::MissingUser, {}});
        m_stage = Stage::Ready;
        return;
    }
    out.push_back({Action::Send, (password ? "AUTHINFO PASS " : "AUTHINFO USER ") + value});
    m_stage = password ? Stage::Password : Stage::User;
}

void LoginSequence::loggedIn(std::vector<Action> &out)
{
    out.push_back({Action::Say, "Authinfo cleared, login complete..."});
    afterAuth(out);
}

void LoginSequence::afterAuth(std::vector<Action> &out)
{
    if (m_opt.slave) {
        out.push_back({Action::Say, "Requesting slave status"});
        out.push_back({Action::Send, "SLAVE"});
        m_stage = Stage::Slave;
        return;
    }
    ready(out);
}

void LoginSequence::ready(std::vector<Action> &out)
{
    if (m_opt.compress) {
        out.push_back({Action::Send, "COMPRESS DEFLATE"});
        m_stage = Stage::Compress;
        return;
    }
    m_stage = Stage::Ready;
    out.push_back({Action::Ready, {}});
}

} // namespace vt
