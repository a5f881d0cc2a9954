#include "ReplyKind.h"

namespace vt {

ReplyKind replyKind(int code)
{
    switch (code) {
    case 101: return ReplyKind::Capabilities;
    case 200:
    case 201: return ReplyKind::Greeting;
    case 202: return ReplyKind::SlaveOk;
    case 205: return ReplyKind::Goodbye;
    case 206: return ReplyKind::CompressionOn;
    case 290: return ReplyKind::FeatureOn;
    case 211: return ReplyKind::GroupSelected;
    case 215:
    case 231: return ReplyKind::GroupList;
    case 220: return ReplyKind::Article;
    case 221: return ReplyKind::Head;
    case 222: return ReplyKind::Body;
    case 223: return ReplyKind::Stat;
    case 224: return ReplyKind::Overview;
    case 281: return ReplyKind::LoggedIn;
    case 381: return ReplyKind::PasswordWanted;
    case 400: return ReplyKind::Unavailable;
    case 401: return ReplyKind::ReaderModeWanted;
    case 411: return ReplyKind::NoSuchGroup;
    case 412: return ReplyKind::NoGroupSelected;
    case 420: return ReplyKind::NoCurrentArticle;
    case 421: return ReplyKind::GroupLost;
    case 423: return ReplyKind::NoSuchNumber;
    case 430: return ReplyKind::NoSuchId;
    case 480: return ReplyKind::LoginWanted;
    case 481:
    case 482: return ReplyKind::LoginRefused;
    case 502: return ReplyKind::Refused;
    case 500:
    case 501:
    case 503: return ReplyKind::ServerError;
    default: return ReplyKind::Unknown;
    }
}

bool isServerError(ReplyKind k)
{
    return k == ReplyKind::ServerError || k == ReplyKind::Refused || k == ReplyKind::Unavailable;
}

} // namespace vt
