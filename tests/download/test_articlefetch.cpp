// Fetching articles on one connection, as a machine: each server script, framed from bytes
// split at every point, gives the same commands and the same decisions. One decision per
// server answer: what is stored, what this server lacks, what failed, what ends the
// connection.
#include "download/ArticleFetch.h"
#include "nntp/ReplyFramer.h"
#include "nntp/ReplyKind.h"
#include <gtest/gtest.h>

using namespace vt;
using Action = ArticleFetch::Action;

namespace {

FetchJob job(int part, const char *id, qint32 number, QByteArrayList groups)
{
    FetchJob j;
    j.item = ItemRef{1, 7};
    j.part = part;
    j.messageId = id;
    j.number = number;
    j.groups = std::move(groups);
    return j;
}

QStringList render(const std::vector<Action> &acts)
{
    QStringList out;
    for (const Action &a : acts) {
        switch (a.kind) {
        case Action::Send: out << "send " + QString::fromLatin1(a.line); break;
        case Action::Store: out << QStringLiteral("store %1 %2").arg(a.job.part).arg(QString::fromLatin1(a.article.left(a.article.indexOf('\r')))); break;
        case Action::NotHere:
            out << QStringLiteral("miss %1 %2").arg(a.job.part).arg(a.miss == ArticleFetch::Miss::NotFound ? "not-found" : "group-not-carried");
            break;
        case Action::Failed: out << QStringLiteral("failed %1: ").arg(a.job.part) + a.text; break;
        case Action::LoginWanted: out << "login"; break;
        case Action::Lost: out << "lost: " + a.text; break;
        case Action::Say: out << "say " + a.text; break;
        }
    }
    return out;
}

struct Script {
    const char *name;
    std::vector<FetchJob> jobs;
    QByteArray server;       // every reply, in order
    QStringList actions;     // what the machine gives, from adding the jobs on
    int resumeAfter = -1;    // replies after which a login is over
    ArticleFetch::Groups groups{};
};

// Runs a script with the server's bytes cut in two at `cut`.
QStringList run(const Script &s, qsizetype cut)
{
    ArticleFetch::Groups groups = s.groups;
    ArticleFetch f;
    f.start(&groups);
    std::vector<Action> acts;
    for (const FetchJob &j : s.jobs) f.add(j, acts);
    ReplyFramer framer;
    int replies = 0;
    for (const QByteArray &piece : {s.server.left(cut), s.server.mid(cut)}) {
        framer.feed(piece);
        Reply r;
        while (framer.next(r)) {
            EXPECT_TRUE(f.expecting()) << s.name;
            f.take(r, acts);
            if (++replies == s.resumeAfter) f.resume(acts);
        }
    }
    return render(acts);
}

const QByteArray kArticleA = "220 11 <a@x>\r\nMessage-ID: <a@x>\r\n\r\nbody\r\n.\r\n";
const QByteArray kArticleB = "220 12 <b@x>\r\nMessage-ID: <b@x>\r\n\r\nbody\r\n.\r\n";

std::vector<Script> scripts()
{
    const ArticleFetch::Groups known{{"g"}, {}}, gone{{}, {"gone"}};
    return {
        {"in its group, two parts, one GROUP, the articles once it is there",
         {job(1, "<a@x>", 11, {"g"}), job(2, "<b@x>", 12, {"g"})},
         "211 2 11 12 g\r\n" + kArticleA + kArticleB,
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE <b@x>", "store 1 220 11 <a@x>", "store 2 220 12 <b@x>"}},
        {"a group the server has confirmed: GROUP and ARTICLE at once",
         {job(1, "<a@x>", 11, {"g"})},
         "211 2 11 12 g\r\n" + kArticleA,
         {"send GROUP g", "send ARTICLE <a@x>", "store 1 220 11 <a@x>"}, -1, known},
        {"430 by message-id, then by number in its group",
         {job(1, "<a@x>", 11, {"g"})},
         "211 2 11 12 g\r\n430 no such article\r\n" + kArticleA,
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE 11", "store 1 220 11 <a@x>"}},
        {"430 and 423: not on this server",
         {job(1, "<a@x>", 11, {"g"})},
         "211 2 11 12 g\r\n430 no such article\r\n423 no such number\r\n",
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE 11", "miss 1 not-found"}},
        {"a group the server does not carry: the message-id alone",
         {job(1, "<a@x>", 0, {"gone"}), job(2, "<b@x>", 0, {"gone"})},
         "411 no such group\r\n" + kArticleA + kArticleB,
         {"send GROUP gone", "say Newsgroup gone is not on the server", "send ARTICLE <a@x>", "send ARTICLE <b@x>",
          "store 1 220 11 <a@x>", "store 2 220 12 <b@x>"}},
        {"an imported part tried in each listed group",
         {job(1, "<a@x>", 0, {"one", "gone", "scoped"})},
         "211 1 1 1 one\r\n430 no\r\n411 no such group\r\n211 2 11 12 scoped\r\n" + kArticleA,
         {"send GROUP one", "send ARTICLE <a@x>", "send GROUP gone", "say Newsgroup gone is not on the server", "send GROUP scoped",
          "send ARTICLE <a@x>", "store 1 220 11 <a@x>"}},
        {"every listed group refused and the id unknown",
         {job(1, "<a@x>", 5, {"gone"})},
         "411 no such group\r\n430 no\r\n",
         {"send GROUP gone", "say Newsgroup gone is not on the server", "send ARTICLE <a@x>", "miss 1 group-not-carried"}},
        {"a group known not carried is not asked again",
         {job(1, "<a@x>", 5, {"gone"})},
         "430 no\r\n",
         {"send ARTICLE <a@x>", "miss 1 group-not-carried"}, -1, gone},
        {"no group at all",
         {job(1, "<a@x>", 0, {})},
         "430 no\r\n",
         {"send ARTICLE <a@x>", "miss 1 not-found"}},
        {"an answer not understood is a failed try, the connection goes on",
         {job(1, "<a@x>", 11, {"g"}), job(2, "<b@x>", 12, {"g"})},
         "211 2 11 12 g\r\n222 11 <a@x>\r\nbody\r\n.\r\n999 what\r\n",
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE <b@x>", "failed 1: Reply not understood: 222 11 <a@x>",
          "failed 2: Reply not understood: 999 what"}},
        {"a server going away fails the part and ends the connection",
         {job(1, "<a@x>", 11, {"g"})},
         "211 2 11 12 g\r\n400 bye now\r\n",
         {"send GROUP g", "send ARTICLE <a@x>", "failed 1: Reply not understood: 400 bye now", "lost: 400 bye now"}},
        {"412 to the number: not on this server",
         {job(1, "<a@x>", 11, {"g"})},
         "211 2 11 12 g\r\n430 no\r\n412 no group\r\n",
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE 11", "miss 1 not-found"}},
        {"a part for another group waits behind a group's first answer",
         {job(1, "<a@x>", 0, {"two"}), job(2, "<b@x>", 0, {"one"})},
         "211 1 1 1 two\r\n" + kArticleA + "211 1 1 1 one\r\n" + kArticleB,
         {"send GROUP two", "send ARTICLE <a@x>", "send GROUP one", "send ARTICLE <b@x>", "store 1 220 11 <a@x>",
          "store 2 220 12 <b@x>"}, -1, ArticleFetch::Groups{{"one"}, {}}},
        {"two parts whose first listed group is not carried: both on to the next",
         {job(1, "<a@x>", 0, {"gone", "real"}), job(2, "<b@x>", 0, {"gone", "real"})},
         "411 no such group\r\n211 1 1 1 real\r\n" + kArticleA + kArticleB,
         {"send GROUP gone", "say Newsgroup gone is not on the server", "send GROUP real", "send ARTICLE <a@x>", "send ARTICLE <b@x>",
          "store 1 220 11 <a@x>", "store 2 220 12 <b@x>"}},
        {"the number asked in its own group after the connection moved on",
         {job(1, "<a@x>", 11, {"g"}), job(2, "<b@x>", 0, {"h"})},
         "211 1 1 1 g\r\n430 no\r\n211 1 1 1 h\r\n" + kArticleB + "211 1 1 1 g\r\n" + kArticleA,
         {"send GROUP g", "send ARTICLE <a@x>", "send GROUP h", "send ARTICLE <b@x>", "send GROUP g", "send ARTICLE 11",
          "store 2 220 12 <b@x>", "store 1 220 11 <a@x>"}, -1, ArticleFetch::Groups{{"g", "h"}, {}}},
        {"a login asked for in the middle: everything refused goes out again after it",
         {job(1, "<a@x>", 11, {"g"}), job(2, "<b@x>", 12, {"g"})},
         "480 login\r\n480 login\r\n480 login\r\n211 2 11 12 g\r\n" + kArticleA + kArticleB,
         {"send GROUP g", "send ARTICLE <a@x>", "send ARTICLE <b@x>", "login", "send GROUP g", "send ARTICLE <a@x>",
          "send ARTICLE <b@x>", "store 1 220 11 <a@x>", "store 2 220 12 <b@x>"},
         3, known},
    };
}

} // namespace

TEST(ArticleFetch, EveryScriptSplitAtEveryPoint)
{
    for (const Script &s : scripts()) {
        SCOPED_TRACE(s.name);
        const QStringList whole = run(s, s.server.size());
        EXPECT_EQ(whole, s.actions) << whole.join(" | ").toStdString();
        for (qsizetype cut = 0; cut <= s.server.size(); ++cut) {
            const QStringList got = run(s, cut);
            ASSERT_EQ(got, whole) << "cut at " << cut;
        }
    }
}

// The parts in flight come back in order when the connection is lost; a group one
// connection found missing is not asked by the next one of the same server.
TEST(ArticleFetch, TakeBackAndTheServersGroups)
{
    ArticleFetch::Groups groups;
    ArticleFetch a;
    a.start(&groups);
    std::vector<Action> acts;
    a.add(job(1, "<a@x>", 11, {"gone"}), acts);
    a.add(job(2, "<b@x>", 12, {"gone"}), acts);
    ReplyFramer fr;
    fr.feed("411 no\r\n");
    Reply r;
    ASSERT_TRUE(fr.next(r));
    a.take(r, acts);
    EXPECT_EQ(a.inFlight(), 2);
    EXPECT_TRUE(a.expecting());
    const std::vector<FetchJob> back = a.takeBack();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].part, 1);
    EXPECT_EQ(back[1].part, 2);
    EXPECT_FALSE(a.expecting());

    ArticleFetch b;
    b.start(&groups);
    acts.clear();
    b.add(back[0], acts);
    EXPECT_EQ(render(acts), QStringList{"send ARTICLE <a@x>"});
}

// One table from reply code to meaning, for every conversation.
TEST(ArticleFetch, OneReplyTable)
{
    const std::pair<int, ReplyKind> table[] = {
        {101, ReplyKind::Capabilities}, {200, ReplyKind::Greeting},        {201, ReplyKind::Greeting},
        {202, ReplyKind::SlaveOk},      {205, ReplyKind::Goodbye},         {211, ReplyKind::GroupSelected},
        {215, ReplyKind::GroupList},    {220, ReplyKind::Article},         {221, ReplyKind::Head},
        {222, ReplyKind::Body},         {223, ReplyKind::Stat},            {224, ReplyKind::Overview},
        {281, ReplyKind::LoggedIn},     {381, ReplyKind::PasswordWanted},  {400, ReplyKind::Unavailable},
        {401, ReplyKind::ReaderModeWanted}, {411, ReplyKind::NoSuchGroup}, {412, ReplyKind::NoGroupSelected},
        {420, ReplyKind::NoCurrentArticle}, {421, ReplyKind::GroupLost},   {423, ReplyKind::NoSuchNumber},
        {430, ReplyKind::NoSuchId},     {480, ReplyKind::LoginWanted},     {481, ReplyKind::LoginRefused},
        {482, ReplyKind::LoginRefused}, {500, ReplyKind::ServerError},     {501, ReplyKind::ServerError},
        {502, ReplyKind::Refused},      {503, ReplyKind::ServerError},     {-1, ReplyKind::Unknown},
        {222 + 777, ReplyKind::Unknown},
    };
    for (auto [code, kind] : table) EXPECT_EQ(replyKind(code), kind) << code;
    for (int code : {400, 500, 501, 502, 503}) EXPECT_TRUE(isServerError(replyKind(code))) << code;
    for (int code : {411, 430, 480, 481, 200}) EXPECT_FALSE(isServerError(replyKind(code))) << code;
}
