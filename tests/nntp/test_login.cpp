// The login state machine on its own: each server script, framed from bytes split at every
// point, gives the same commands, texts and outcome.
#include "nntp/LoginSequence.h"
#include "nntp/ReplyFramer.h"
#include <gtest/gtest.h>
#include <random>

using namespace vt;
using Action = LoginSequence::Action;

namespace {

struct Script {
    const char *name;
    LoginSequence::Options options;
    QByteArray server;                 // every reply the server sends, in order
    std::vector<Action> actions;       // what the machine gives for them
    std::vector<QByteArray> notTaken;  // replies left to the connection's own table
    LoginSequence::Stage end;
};

using S = LoginSequence::Stage;
const LoginSequence::Options kPlain{}, kReader{true}, kAuth{false, true, false, "u", "p"}, kSlave{false, false, true},
    kAll{true, true, true, "u", "p"}, kNoUser{false, true, false, "", "p"}, kNoPass{false, true, false, "u", ""},
    kAsked{false, false, false, "u", "p"}, kCompressAll{true, true, false, "u", "p", true}, kCompress{false, false, false, {}, {}, true},
    kCompressAsked{false, false, false, "u", "p", true};
const std::vector<Action> kCompressAsk{{Action::Send, "COMPRESS DEFLATE"}}, kGzipAsk{{Action::Send, "XFEATURE COMPRESS GZIP"}},
    kXzverAsk{{Action::Send, "XZVER"}};

// Action lists that several scripts share.
std::vector<Action> operator+(std::vector<Action> a, const std::vector<Action> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const std::vector<Action> kUser{{Action::Say, "Authenticating User Name..."}, {Action::Send, "AUTHINFO USER u"}};
const std::vector<Action> kPass{{Action::Say, "Authenticating Password..."}, {Action::Send, "AUTHINFO PASS p"}};
const std::vector<Action> kDone{{Action::Say, "Authinfo cleared, login complete..."}};
const std::vector<Action> kReady{{Action::Ready, {}}};
std::vector<Action> greeted(const char *line) { return {{Action::Greeted, line}}; }

std::vector<Script> scripts()
{
    return {
        {"greeting", kPlain, "200 hi\r\n", {{Action::Greeted, "200 hi"}, {Action::Ready, {}}}, {}, S::Ready},
        {"posting not allowed", kPlain, "201 hi\r\n", {{Action::Greeted, "201 hi"}, {Action::Ready, {}}}, {}, S::Ready},
        {"mode reader", kReader, "200 hi\r\n200 reader\r\n",
         {{Action::Say, "Sending MODE READER request"}, {Action::Send, "MODE READER"}, {Action::Greeted, "200 reader"}, {Action::Ready, {}}},
         {}, S::Ready},
        {"mode reader refused", kReader, "200 hi\r\n500 what\r\n",
         {{Action::Say, "Sending MODE READER request"}, {Action::Send, "MODE READER"}}, {"500 what"}, S::ModeReader},
        {"user and password", kAuth, "200 hi\r\n381 more\r\n281 ok\r\n",
         greeted("200 hi") + kUser + kPass + kDone + kReady, {}, S::Ready},
        {"user alone is enough", kAuth, "200 hi\r\n281 ok\r\n",
         greeted("200 hi") + kUser + kDone + kReady, {}, S::Ready},
        {"login asked later by 480", kAsked, "200 hi\r\n211 5 1 5 g\r\n480 need\r\n381 more\r\n281 ok\r\n",
         greeted("200 hi") + kReady + kUser + kPass + kDone + kReady,
         {"211 5 1 5 g"}, S::Ready},
        {"refused password", kAuth, "200 hi\r\n381 more\r\n481 no\r\n",
         greeted("200 hi") + kUser + kPass, {"481 no"}, S::Password},
        {"slave", kSlave, "200 hi\r\n202 slave noted\r\n",
         {{Action::Greeted, "200 hi"}, {Action::Say, "Requesting slave status"}, {Action::Send, "SLAVE"}, {Action::Say, "202 slave noted"}, {Action::Ready, {}}},
         {}, S::Ready},
        {"everything", kAll, "200 hi\r\n200 reader\r\n381 more\r\n281 ok\r\n202 slave\r\n",
         std::vector<Action>{{Action::Say, "Sending MODE READER request"}, {Action::Send, "MODE READER"}} + greeted("200 reader") + kUser
             + kPass + kDone
             + std::vector<Action>{{Action::Say, "Requesting slave status"}, {Action::Send, "SLAVE"}, {Action::Say, "202 slave"}} + kReady,
         {}, S::Ready},
        {"no user name", kNoUser, "200 hi\r\n", {{Action::Greeted, "200 hi"}, {Action::Say, "Authenticating User Name..."}, {Action::MissingUser, {}}}, {}, S::Ready},
        {"no password", kNoPass, "200 hi\r\n381 more\r\n",
         greeted("200 hi") + kUser + std::vector<Action>{{Action::Say, "Authenticating Password..."}, {Action::MissingPassword, {}}},
         {}, S::Ready},
        {"work replies are not the login's", kPlain, "200 hi\r\n224 ov\r\n1\ta\r\n.\r\n423 none\r\n205 bye\r\n",
         {{Action::Greeted, "200 hi"}, {Action::Ready, {}}}, {"224 ov", "423 none", "205 bye"}, S::Ready},
        {"compression last, after reader mode and login", kCompressAll, "200 hi\r\n200 reader\r\n381 more\r\n281 ok\r\n206 on\r\n",
         std::vector<Action>{{Action::Say, "Sending MODE READER request"}, {Action::Send, "MODE READER"}} + greeted("200 reader") + kUser
             + kPass + kDone + kCompressAsk + std::vector<Action>{{Action::Compressed, "206 on"}} + kReady,
         {}, S::Ready},
        {"compression refused, the other kind on", kCompress, "200 hi\r\n500 what\r\n290 feature enabled\r\n",
         greeted("200 hi") + kCompressAsk + kGzipAsk + std::vector<Action>{{Action::GzipReplies, "290 feature enabled"}} + kReady, {},
         S::Ready},
        {"two kinds refused, XZVER known", kCompress, "200 hi\r\n500 what\r\n501 no\r\n412 no group\r\n",
         greeted("200 hi") + kCompressAsk + kGzipAsk + kXzverAsk + std::vector<Action>{{Action::XzverKnown, "412 no group"}} + kReady, {},
         S::Ready},
        {"every kind refused: plain", kCompress, "200 hi\r\n500 what\r\n501 no\r\n500 what?\r\n211 5 1 5 g\r\n",
         greeted("200 hi") + kCompressAsk + kGzipAsk + kXzverAsk + std::vector<Action>{{Action::NotCompressed, "500 what?"}} + kReady,
         {"211 5 1 5 g"}, S::Ready},
        {"compression asked again after a login it wanted", kCompressAsked, "200 hi\r\n480 need\r\n381 more\r\n281 ok\r\n206 on\r\n",
         greeted("200 hi") + kCompressAsk + kUser + kPass + kDone + kCompressAsk + std::vector<Action>{{Action::Compressed, "206 on"}} + kReady,
         {}, S::Ready},
        {"a greeting again starts over", kAuth, "200 hi\r\n281 ok\r\n200 again\r\n281 ok\r\n",
         greeted("200 hi") + kUser + kDone + kReady + greeted("200 again") + kUser + kDone + kReady, {}, S::Ready},
    };
}

// Feeds the script in the pieces given; checks what came out.
void run(const Script &sc, const std::vector<qsizetype> &cuts, const std::string &how)
{
    LoginSequence seq;
    seq.start(sc.options);
    ReplyFramer framer;
    std::vector<Action> got;
    std::vector<QByteArray> notTaken;
    qsizetype at = 0;
    auto drain = [&] {
        Reply r;
        while (framer.next(r)) {
            QByteArray line = r.firstLine();
            if (line.endsWith('\n')) line.chop(1);
            if (line.endsWith('\r')) line.chop(1);
            if (!seq.take(r.code, line, got)) notTaken.push_back(line);
        }
    };
    for (qsizetype cut : cuts) {
        framer.feed(sc.server.mid(at, cut - at));
        at = cut;
        drain();
    }
    framer.feed(sc.server.mid(at));
    drain();
    ASSERT_EQ(got.size(), sc.actions.size()) << sc.name << " " << how;
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(got[i] == sc.actions[i]) << sc.name << " " << how << ": action " << i << " is " << int(got[i].kind) << " "
                                             << got[i].line.toStdString();
    EXPECT_EQ(notTaken, sc.notTaken) << sc.name << " " << how;
    EXPECT_EQ(seq.stage(), sc.end) << sc.name << " " << how;
}

} // namespace

TEST(LoginSequence, EveryScriptWholeSplitAnywhereAndInRandomPieces)
{
    std::mt19937 rng(7);
    for (const Script &sc : scripts()) {
        run(sc, {}, "whole");
        for (qsizetype cut = 1; cut < sc.server.size(); ++cut) run(sc, {cut}, "split at " + std::to_string(cut));
        for (int round = 0; round < 20; ++round) {
            std::vector<qsizetype> cuts;
            for (qsizetype at = 0; at < sc.server.size(); at += 1 + qsizetype(rng() % 5)) cuts.push_back(at);
            run(sc, cuts, "random pieces");
        }
    }
}
