#pragma once
// What a server's reply code means, for every conversation of the program: one table,
// read by the scan, the download, the viewers, the host group list, the assistant and the
// server test alike. Each conversation decides what to do with a meaning; none looks at
// the digits itself.
#include <QByteArray>

namespace vt {

enum class ReplyKind {
    Capabilities,      // 101
    Greeting,          // 200, 201 (also the answer to MODE READER)
    SlaveOk,           // 202
    Goodbye,           // 205
    CompressionOn,     // 206: both directions deflated from the next byte on
    GroupSelected,     // 211
    GroupList,         // 215, 231
    Article,           // 220
    Head,              // 221
    Body,              // 222
    Stat,              // 223
    Overview,          // 224
    LoggedIn,          // 281
    PasswordWanted,    // 381
    Unavailable,       // 400: the service is going away
    ReaderModeWanted,  // 401
    NoSuchGroup,       // 411
    NoGroupSelected,   // 412
    NoCurrentArticle,  // 420
    GroupLost,         // 421 (no next article: the scan keeps its mark and goes on)
    NoSuchNumber,      // 423
    NoSuchId,          // 430
    LoginWanted,       // 480
    LoginRefused,      // 481, 482
    Refused,           // 502: no permission (at the door: no connection for us)
    ServerError,       // 500, 501, 503
    FeatureOn,         // 290: an XFEATURE switched on
    Unknown,           // anything else, or no code at all
};

ReplyKind replyKind(int code);
// The five codes the program calls a server error: 400, 500, 501, 502, 503.
bool isServerError(ReplyKind k);
// The article is not there, by number or by message-id.
inline bool isMissingArticle(ReplyKind k) { return k == ReplyKind::NoSuchId || k == ReplyKind::NoSuchNumber; }
// The server will not go on with this connection (or this user).
inline bool endsConnection(ReplyKind k)
{
    return k == ReplyKind::Unavailable || k == ReplyKind::Refused || k == ReplyKind::LoginRefused || k == ReplyKind::Goodbye;
}

} // namespace vt
