#include "nntp/Deflate.h"
#include "nntp/ReplyFramer.h"
#include "nntp/Xzver.h"
#include "Synth.h"
#include <gtest/gtest.h>
#include <random>
#include <vector>
#include <zlib.h>

using vt::Reply;
using vt::ReplyFramer;

namespace {

struct Case {
    const char *name;
    QByteArray stream;
    std::vector<QByteArray> replies;   // expected, in order
    std::vector<bool> multiline;
};

std::vector<Case> cases()
{
    return {
        {"greeting", "200 hello\r\n", {"200 hello\r\n"}, {false}},
        {"two single lines", "381 more\r\n281 ok\r\n", {"381 more\r\n", "281 ok\r\n"}, {false, false}},
        {"empty overview", "224 ov\r\n.\r\n", {"224 ov\r\n.\r\n"}, {true}},
        {"overview then group reply", "224 ov\r\n1\ta\r\n2\tb\r\n.\r\n211 3 1 3 g\r\n",
         {"224 ov\r\n1\ta\r\n2\tb\r\n.\r\n", "211 3 1 3 g\r\n"}, {true, false}},
        {"article with reply-like body line", "220 1 <a>\r\nX: y\r\n\r\n211 not a reply\r\n..dot\r\n.\r\n",
         {"220 1 <a>\r\nX: y\r\n\r\n211 not a reply\r\n..dot\r\n.\r\n"}, {true}},
        {"terminator-like text inside a line", "220 1 <a>\r\nab.\r\ncd\r\n.\r\n", {"220 1 <a>\r\nab.\r\ncd\r\n.\r\n"}, {true}},
        {"error after article", "220 1 <a>\r\nbody\r\n.\r\n430 gone\r\n", {"220 1 <a>\r\nbody\r\n.\r\n", "430 gone\r\n"}, {true, false}},
        {"non-numeric line", "hello there\r\n", {"hello there\r\n"}, {false}},
        {"list", "215 list\r\na 2 1 y\r\n.\r\n", {"215 list\r\na 2 1 y\r\n.\r\n"}, {true}},
        {"480 without blank", "480\r\n", {"480\r\n"}, {false}},
    };
}

std::vector<Reply> drain(ReplyFramer &f)
{
    std::vector<Reply> out;
    Reply r;
    while (f.next(r)) out.push_back(r);
    return out;
}

void expectReplies(const Case &c, const std::vector<Reply> &got, const std::string &how)
{
    ASSERT_EQ(got.size(), c.replies.size()) << c.name << " " << how;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].data, c.replies[i]) << c.name << " " << how;
        EXPECT_EQ(got[i].multiline, c.multiline[i]) << c.name << " " << how;
    }
}

// One finished deflate stream: raw (-15), zlib (15) or gzip (31).
QByteArray deflated(const QByteArray &plain, int windowBits)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(plain.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

TEST(ReplyFramer, WholeStreamAtOnce)
{
    for (const Case &c : cases()) {
        ReplyFramer f;
        f.feed(c.stream);
        expectReplies(c, drain(f), "whole");
    }
}

TEST(ReplyFramer, EverySplitPoint)
{
    for (const Case &c : cases()) {
        for (qsizetype cut = 1; cut < c.stream.size(); ++cut) {
            ReplyFramer f;
            f.feed(c.stream.left(cut));
            auto got = drain(f);
            f.feed(c.stream.mid(cut));
            auto rest = drain(f);
            got.insert(got.end(), rest.begin(), rest.end());
            expectReplies(c, got, "cut at " + std::to_string(cut));
        }
    }
}

TEST(ReplyFramer, ByteByByteAndJoinedCases)
{
    QByteArray all;
    std::vector<QByteArray> want;
    for (const Case &c : cases()) {
        all += c.stream;
        want.insert(want.end(), c.replies.begin(), c.replies.end());
    }
    ReplyFramer f;
    std::vector<Reply> got;
    for (char ch : all) {
        f.feed(&ch, 1);
        auto r = drain(f);
        got.insert(got.end(), r.begin(), r.end());
    }
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].data, want[i]);
}

TEST(ReplyFramer, RandomChunksOfLargeReply)
{
    QByteArray body = "224 ov\r\n";
    for (int i = 0; i < 20000; ++i) body += QByteArray::number(i) + "\tsubject " + QByteArray::number(i * 7) + "\r\n";
    body += ".\r\n";
    const QByteArray stream = body + "211 1 2 3 x\r\n";
    std::mt19937 rng(5);
    ReplyFramer f;
    std::vector<Reply> got;
    for (qsizetype p = 0; p < stream.size();) {
        const qsizetype n = std::min<qsizetype>(stream.size() - p, 1 + rng() % 3000);
        f.feed(stream.constData() + p, n);
        p += n;
        auto r = drain(f);
        got.insert(got.end(), r.begin(), r.end());
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, body);
    EXPECT_EQ(got[0].code, 224);
    EXPECT_EQ(got[1].firstLine(), QByteArray("211 1 2 3 x"));
}

TEST(ReplyFramer, PendingBytesAndReset)
{
    ReplyFramer f;
    f.feed("220 1 <a>\r\npartial");
    Reply r;
    EXPECT_FALSE(f.next(r));
    EXPECT_TRUE(f.inMultiline());
    EXPECT_EQ(f.pendingBytes(), 18);
    f.reset();
    f.feed("200 again\r\n");
    ASSERT_TRUE(f.next(r));
    EXPECT_EQ(r.data, QByteArray("200 again\r\n"));
}

// A long reply streamed: what is taken along the way and the final reply add up to the
// reply exactly, wherever the stream is cut, and the reply after it is intact.
TEST(ReplyFramer, StreamedMultilineReplyAddsUpWhereverCut)
{
    QByteArray list = "215 list follows\r\n";
    for (int i = 0; i < 300; ++i) list += "alt.group" + QByteArray::number(i) + " 10 1 y\r\n";
    list += ".\r\n";
    const QByteArray stream = list + "205 bye\r\n";
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        ReplyFramer f;
        QByteArray taken;
        std::vector<Reply> got;
        qsizetype at = 0;
        while (at < stream.size()) {
            const qsizetype n = std::min<qsizetype>(stream.size() - at, 1 + rng() % (round < 100 ? 7 : 900));
            f.feed(stream.constData() + at, n);
            at += n;
            Reply r;
            while (f.next(r)) got.push_back(r);
            f.takeReceived(taken);
        }
        ASSERT_EQ(got.size(), 2u) << "round " << round;
        EXPECT_EQ(got[0].code, 215);
        EXPECT_TRUE(got[0].multiline);
        EXPECT_EQ(taken + got[0].data, list) << "round " << round;
        EXPECT_LE(got[0].data.size(), 4 + 900 + 5);
        EXPECT_EQ(got[1].data, "205 bye\r\n");
    }
    ReplyFramer single;
    QByteArray none;
    single.feed("200 hello there, long greeting\r\n");
    EXPECT_EQ(single.takeReceived(none), 0) << "only multi-line replies are streamed";
    ReplyFramer empty;
    empty.feed("215 x\r\n");
    Reply r;
    EXPECT_FALSE(empty.next(r));
    empty.takeReceived(none);
    empty.feed(".\r\n");
    ASSERT_TRUE(empty.next(r)) << "an empty list still ends";
    EXPECT_EQ(none + r.data, "215 x\r\n.\r\n");
}

// A deflated stream (as after COMPRESS DEFLATE: raw deflate, flushed after each reply),
// cut anywhere, inflates into the same replies; a spoiled byte or an ended stream is
// damage, never replies made up. A command goes out as the server inflates it.
TEST(DeflateLink, RepliesThroughCompressionWhereverCutAndDamageSeen)
{
    QByteArray all;
    std::vector<QByteArray> replies;
    for (const Case &c : cases())
        for (const QByteArray &r : c.replies) replies.push_back(r);
    QByteArray overview = "224 ov\r\n";
    for (int i = 0; i < 3000; ++i) overview += QByteArray::number(i) + "\tRe: [1/9] - \"file.part" + QByteArray::number(i % 40) + ".rar\" yEnc (1/50)\tposter\r\n";
    replies.push_back(overview + ".\r\n");
    // The server side: each reply deflated and flushed.
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray wire;
    for (const QByteArray &r : replies) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(r.constData()));
        z.avail_in = uInt(r.size());
        do {
            char buf[4096];
            z.next_out = reinterpret_cast<Bytef *>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, Z_SYNC_FLUSH);
            wire.append(buf, qsizetype(sizeof buf - z.avail_out));
        } while (z.avail_out == 0);
        all += r;
    }
    deflateEnd(&z);
    EXPECT_LT(wire.size(), all.size() / 4);
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        vt::DeflateLink link;
        link.start();
        ReplyFramer f;
        std::vector<Reply> got;
        for (qsizetype at = 0; at < wire.size();) {
            const qsizetype n = std::min<qsizetype>(wire.size() - at, round < 20 ? round + 1 : qsizetype(rng() % 5000 + 1));
            ASSERT_TRUE(link.inflateInto(wire.constData() + at, n, f));
            at += n;
            for (const Reply &r : drain(f)) got.push_back(r);
        }
        ASSERT_EQ(got.size(), replies.size()) << round;
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].data, replies[i]) << round << " reply " << i;
        EXPECT_EQ(link.wireIn(), wire.size());
        EXPECT_EQ(link.plainIn(), all.size());
    }
    // Raw deflate has no checksum: what can be seen is a block no deflate stream holds (a
    // reserved block type, where a reply's flushed output starts), or plain text instead.
    for (const QByteArray &bad : {QByteArray("\x06\xff\xff", 3), QByteArray("211 5 1 5 g\r\n")}) {
        vt::DeflateLink link;
        link.start();
        ReplyFramer f;
        const qsizetype cut = wire.indexOf(QByteArray("\x00\x00\xff\xff", 4)) + 4;   // after the first reply's flush
        ASSERT_TRUE(link.inflateInto(wire.constData(), cut, f));
        EXPECT_EQ(drain(f).size(), 1u);
        EXPECT_FALSE(link.inflateInto(bad.constData(), bad.size(), f)) << bad.toStdString();
    }

    vt::DeflateLink client;
    client.start();
    const QByteArray cmd = client.deflate("XOVER 1-1000\r\n") + client.deflate("QUIT\r\n");
    z_stream in{};
    inflateInit2(&in, -15);
    char out[256];
    in.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(cmd.constData()));
    in.avail_in = uInt(cmd.size());
    in.next_out = reinterpret_cast<Bytef *>(out);
    in.avail_out = sizeof out;
    inflate(&in, Z_SYNC_FLUSH);
    EXPECT_EQ(QByteArray(out, qsizetype(sizeof out - in.avail_out)), "XOVER 1-1000\r\nQUIT\r\n");
    inflateEnd(&in);
}

// After XFEATURE COMPRESS GZIP: an overview marked "[COMPRESS=GZIP]" whose body is a zlib
// or gzip stream, its terminator inside the stream or right after it, comes out as the
// plain reply wherever the bytes are cut; other replies around it are framed as ever; a
// spoiled stream is damage (its checksum sees what raw deflate could not).
TEST(ReplyFramer, GzipOverviewsWhereverCut)
{
    QByteArray body;
    for (int i = 0; i < 2000; ++i) body += QByteArray::number(i) + "\tRe: [1/9] - \"file.part" + QByteArray::number(i % 40) + ".rar\" yEnc (1/50)\tposter\r\n";
    body += "..a dot-stuffed line\r\n";
    const QByteArray status = "224 overview information follows [COMPRESS=GZIP]\r\n";
    const QByteArray plainReply = status + body + ".\r\n";
    std::mt19937 rng(11);
    for (const int bits : {15, 31})          // zlib, gzip
        for (const bool inside : {false, true}) {
            const QByteArray wire = "211 9 1 9 g\r\n" + status + deflated(inside ? body + ".\r\n" : body, bits) + (inside ? "" : ".\r\n")
                                    + status + deflated(inside ? ".\r\n" : "", bits) + (inside ? "" : ".\r\n") + "224 plain\r\n1\ta\r\n.\r\n";
            for (int round = 0; round < 40; ++round) {
                ReplyFramer f;
                f.acceptGzipReplies(true);
                std::vector<Reply> got;
                for (qsizetype at = 0; at < wire.size();) {
                    const qsizetype n = std::min<qsizetype>(wire.size() - at, round < 10 ? round + 1 : qsizetype(rng() % 3000 + 1));
                    f.feed(wire.constData() + at, n);
                    at += n;
                    for (const Reply &r : drain(f)) got.push_back(r);
                }
                ASSERT_FALSE(f.damaged());
                ASSERT_EQ(got.size(), 4u) << bits << inside << round;
                EXPECT_EQ(got[0].data, "211 9 1 9 g\r\n");
                EXPECT_EQ(got[1].data, plainReply);
                EXPECT_EQ(got[2].data, status + ".\r\n") << "an empty overview";
                EXPECT_EQ(got[3].data, "224 plain\r\n1\ta\r\n.\r\n");
                EXPECT_TRUE(got[1].multiline && got[1].code == 224);
            }
            QByteArray spoiled = status + deflated(body, bits) + ".\r\n";
            spoiled[spoiled.size() / 2] = char(spoiled[spoiled.size() / 2] ^ 0x55);
            ReplyFramer f;
            f.acceptGzipReplies(true);
            f.feed(spoiled);
            EXPECT_TRUE(drain(f).empty());
            EXPECT_TRUE(f.damaged());
        }
}

// XZVER: the overview raw-deflated and yEnc-encoded (dot-stuffed on the wire) comes back
// as the reply XOVER gives; a wrong CRC or size, no =yend, or data that does not inflate
// is refused with why.
TEST(Xzver, BackToTheOverviewAndWhatIsRefused)
{
    QByteArray lines;
    for (int i = 1; i <= 500; ++i) lines += QByteArray::number(i) + "\tRe: [1/9] - \"f.part" + QByteArray::number(i % 9) + ".rar\" yEnc (1/50)\tposter\r\n";
    auto reply = [&](const QByteArray &plain, bool spoilCrc, bool withEnd) {
        const QByteArray packed = deflated(plain, -15);
        const uint32_t crc = synth::crc32(packed.constData(), size_t(packed.size())) ^ (spoilCrc ? 1u : 0u);
        QByteArray body = "=ybegin line=128 size=" + QByteArray::number(packed.size()) + " name=x\r\n"
                          + QByteArray::fromStdString(synth::yencEncode(packed.constData(), size_t(packed.size())));
        if (withEnd) body += "=yend size=" + QByteArray::number(packed.size()) + " crc32=" + QByteArray::number(crc, 16) + "\r\n";
        QByteArray stuffed;
        for (const QByteArray &l : body.split('\n'))
            if (!l.isEmpty()) stuffed += (l.startsWith('.') ? "." : "") + l + '\n';
        return "224 compressed data follows\r\n" + stuffed + ".\r\n";
    };
    QByteArray out;
    QString why;
    ASSERT_TRUE(vt::xzverToOverview(reply(lines, false, true), &out, &why)) << why.toStdString();
    EXPECT_EQ(out, "224 compressed data follows\r\n" + lines + ".\r\n");
    ASSERT_TRUE(vt::xzverToOverview(reply({}, false, true), &out, &why)) << "an empty range";
    EXPECT_EQ(out, "224 compressed data follows\r\n.\r\n");
    EXPECT_FALSE(vt::xzverToOverview(reply(lines, true, true), &out, &why));
    EXPECT_EQ(why, "CRC mismatch");
    EXPECT_FALSE(vt::xzverToOverview(reply(lines, false, false), &out, &why));
    EXPECT_EQ(why, "no =yend line");
    EXPECT_FALSE(vt::xzverToOverview("224 ov\r\n1\ta\tb\r\n.\r\n", &out, &why));
    EXPECT_EQ(why, "no =ybegin line");
    EXPECT_FALSE(vt::xzverToOverview("224 ov\r\n=ybegin line=128 size=5 name=x\r\n*+,-.\r\n=yend size=5\r\n.\r\n", &out, &why));
    EXPECT_EQ(why, "the data does not inflate");
}
