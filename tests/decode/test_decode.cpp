// Decoding of cached parts into the download folder: our yEnc decoder and libuu fed with
// what a real encoder (uuenview) wrote, the checks that catch damaged posts, output
// names from hostile posts, and what the user can launch afterwards.
#include "Posts.h"
#include "decode/UuLibrary.h"
#include "core/AppCore.h"
#include "download/ArticleText.h"
#include "download/Decoder.h"
#include "download/DecodeQueue.h"
#include "decode/FileNames.h"
#include "download/BatchQueue.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include <QDirIterator>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;


namespace {

struct DecodeRig : vt::test::StoreRig {
    ProcessedList processed;
    PartCache cache{core.settings, groups, store};
    Decoder decoder{core, store, groups, batch, processed, cache};
    QStringList opened;
    quint8 key = 0;
    int nextArticle = 1000;

    DecodeRig()
    {
        core.settings.Download_Path = dir.path() + "/dl/";
        core.settings.Cache_Path = dir.path() + "/cache/";
        QDir().mkpath(core.settings.Download_Path);
        groups.addGroup("alt.binaries.test");
        key = quint8(groups.rowKey(1));
        decoder.RunAssociated = [this](const QString &p) {
            opened << p;
            return true;
        };
    }
    QString folder() const { return core.settings.Download_Path + "alt.binaries.test/"; }
    // Files an item with one part per body (a part's subject counter k/N) and caches each
    // body as a whole article; returns the item.
    int post(const QByteArray &name, const QList<QByteArray> &bodies, bool cacheAll = true)
    {
        const int n = int(bodies.size());
        const int before = store.itemCount();
        // A poster of its own: the same name twice makes two items.
        const QByteArray poster = "Poster" + QByteArray::number(before + 1) + " <p@x>";
        const QByteArray marker = " [xx/" + QByteArray::number(n).rightJustified(7, '0') + "]";
        for (int k = 1; k <= n; ++k) {
            const QByteArray subject = name + " (" + QByteArray::number(k) + '/' + QByteArray::number(n) + ')';
            const QByteArray id = "<p" + QByteArray::number(nextArticle) + "@test>";
            store.maketree(name + marker, subject, nextArticle++, QByteArray::number(n), "5000", key, poster, "", id);
        }
        const int item = store.itemCount();
        EXPECT_EQ(item, before + 1);
        for (int k = 1; k <= n && cacheAll; ++k) cachePart(item, k, bodies[k - 1]);
        batch.AddToBatch(item);
        return item;
    }
    void cachePart(int item, int k, const QByteArray &body)
    {
        const HeaderItem &it = store.item(item);
        const PartRecord &p = it.parts[size_t(k - 1)];
        EXPECT_TRUE(writeFile(cache.PartCacheFile(item, k), "Subject: " + it.prefix() + p.subjectTail() + "\r\nFrom: Poster <p@x>\r\nMessage-ID: "
                                                    + p.messageId() + "\r\n\r\n" + body));
    }
    const ProcessedEntry &decode(int item)
    {
        logged.clear();
        decoder.DecodeItem(item);
        return processed.entry(processed.rowCount() - 1);
    }
    int cached(int item)
    {
        int n = 0;
        for (int k = 1; k <= int(store.item(item).parts.size()); ++k) n += QFileInfo::exists(cache.PartCacheFile(item, k));
        return n;
    }
};

} // namespace

TEST(Decode, RealEncoderOutputThroughBothPaths)
{
    const QByteArray data = randomBytes(60000, 7);
    struct Case {
        const char *mode;
        const char *name;
        bool library;
    } cases[] = {{"-u", "pic.jpg", true}, {"-b", "doc.pdf", true}, {"-x", "old.arj", true}, {"-y", "clip.avi", false},
                 // Blanks, parentheses and several dots: the library files such a post under
                 // two entries unless its merge passes join them.
                 {"-u", "my holiday (2026) day 2.final.jpg", true}, {"-b", "two words.tar.gz", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        DecodeRig r;
        const QList<QByteArray> parts = uuenview(c.mode, c.name, data);
        ASSERT_GE(parts.size(), 3) << "the encoder should split the file";
        const int item = r.post(c.name, parts);
        const ProcessedEntry &e = r.decode(item);
        EXPECT_EQ(e.status, "Decode successful") << r.logged.join('\n').toStdString();
        EXPECT_EQ(e.fileName.toStdString(), (r.folder() + c.name).toStdString());
        EXPECT_TRUE(readFile(e.fileName) == data) << "decoded bytes differ";
        EXPECT_EQ(filesIn(r.core.settings.Download_Path).size(), 1);
        EXPECT_EQ(r.cached(item), 0);
        EXPECT_EQ(r.count("Removing uue file: "), parts.size());
        EXPECT_EQ(r.batch.batchRows(), 0);
        EXPECT_EQ(r.count("Decoder ready, attachment found."), c.library ? 1 : 0);
        EXPECT_EQ(r.count("loading "), c.library ? parts.size() : 0);
        EXPECT_EQ(r.count("yEnc Internal Decoder: yEnc Encoding detected..."), c.library ? 0 : 1);
        EXPECT_EQ(r.count("yDecoding ("), c.library ? 0 : parts.size());
        EXPECT_TRUE(r.logged.contains(e.fileName + " Decode successful... "));

        // The same post again goes beside the first file.
        const int again = r.post(c.name, parts);
        const QString second = UniqueName(e.fileName, false);
        EXPECT_TRUE(second.startsWith(r.folder() + QString(c.name).section('.', 0, 0) + '.')) << second.toStdString();
        EXPECT_EQ(r.decode(again).fileName.toStdString(), second.toStdString());
        EXPECT_TRUE(readFile(second) == data);
    }
}

TEST(Decode, LibraryCornerCases)
{
    DecodeRig r;
    // A long decode inside the library is activity, not a silent server: the download's
    // watchdog hears from it while the library works.
    {
        const QList<QByteArray> big = uuenview("-u", "big.bin", randomBytes(12'000'000, 4), 1'000'000);
        ASSERT_EQ(big.size(), 1);
        int heard = 0;
        r.decoder.activity = [&] { ++heard; };
        const int item = r.post("big.bin", big);
        int during = 0;
        UuLibrary probe;
        probe.activity = [&] { ++during; };
        ASSERT_TRUE(probe.init());
        ASSERT_EQ(probe.loadFile(r.cache.PartCacheFile(item, 1)), 0);
        int uuret = 0, mvret = 0;
        ASSERT_TRUE(probe.decode(probe.listFirst(), r.dir.path() + "/big.out", &uuret, &mvret));
        probe.shutdown();
        EXPECT_GT(during, 0) << "the library's busy callback reports activity";
        EXPECT_EQ(r.decode(item).status, "Decode successful");
        EXPECT_GT(heard, 0);
        r.decoder.activity = nullptr;
    }
    // A uuencoded file named by the poster with a path: only the final name is used.
    const QByteArray payload = "#!/bin/sh\necho owned\n";
    QList<QByteArray> parts = uuenview("-u", "evil.sh", payload);
    ASSERT_EQ(parts.size(), 1);
    parts[0].replace(" evil.sh\r\n", " ../../evil.sh\r\n");
    ASSERT_TRUE(parts[0].contains("../../evil.sh"));
    int item = r.post("evil.sh", parts);
    const ProcessedEntry &e = r.decode(item);
    EXPECT_EQ(e.status, "Decode successful") << r.logged.join('\n').toStdString();
    EXPECT_EQ(e.fileName, r.folder() + "evil.sh");
    EXPECT_EQ(readFile(e.fileName), payload);
    EXPECT_FALSE(QFileInfo::exists(r.dir.path() + "/evil.sh"));
    EXPECT_FALSE(QFileInfo::exists(r.core.settings.Download_Path + "evil.sh"));

    // Nothing decodable: the status, the log line, and (with bad decodes saved) the cache stays.
    r.core.settings.chkSaveDecodes = true;
    item = r.post("notes.txt", {"just some words\r\nand more\r\n", "nothing encoded here\r\n"});
    EXPECT_EQ(r.decode(item).status, "Error: nothing to decode");
    EXPECT_EQ(r.count("Decode error: uud reports nothing to decode"), 1);
    EXPECT_EQ(r.cached(item), 2);
    EXPECT_FALSE(r.store.item(item).inBatch);
    EXPECT_EQ(r.batch.batchRows(), 0);

    // A missing cache file.
    r.core.settings.chkSaveDecodes = false;
    item = r.post("gone.jpg", uuenview("-u", "gone.jpg", randomBytes(20000, 3)), false);
    r.cachePart(item, 1, "x\r\n");
    EXPECT_EQ(r.decode(item).status, "Error: needed uue file not found");
    EXPECT_EQ(r.count("decode error, uue file does not exist!"), 1);
    EXPECT_EQ(r.cached(item), 0) << "bad decodes are not kept";

    // The library's return codes, and the sound that goes with "no data".
    r.core.sounds.enabled = true;
    QDir().mkpath(r.core.sounds.folder());
    EXPECT_TRUE(writeFile(r.core.sounds.folder() + "vtv012.wav", "RIFF"));
    EXPECT_EQ(r.decoder.DecodeResultText(4), "decoder didn't find any data");
    EXPECT_EQ(r.core.sounds.played().value(0), "vtv012.wav");
    EXPECT_EQ(r.decoder.DecodeResultText(0), "everything went fine");
    EXPECT_EQ(r.decoder.DecodeResultText(9), "operation cancelled");
    EXPECT_EQ(r.decoder.DecodeResultText(10), "");
    EXPECT_EQ(r.core.sounds.played().size(), 1);
}

TEST(Decode, YencChecksCatchDamagedPosts)
{
    const QByteArray file = randomBytes(30000, 11);
    auto three = [&](const QByteArray &name) {
        return QList<QByteArray>{yencPart(file, 1, 10000, 1, 3, name), yencPart(file, 10001, 20000, 2, 3, name),
                                 yencPart(file, 20001, 30000, 3, 3, name)};
    };
    DecodeRig r;
    // One wrong byte in part 2: the file is written all the same, the row names the part.
    QList<QByteArray> bad = three("bad.bin");
    // A plain data character (not an escape, not a line break), so the length stays right.
    qsizetype at = bad[1].indexOf("\r\n", bad[1].indexOf("=ypart")) + 200;
    while (QByteArray("=\r\n").contains(bad[1][at]) || bad[1][at - 1] == '=') ++at;
    bad[1][at] = bad[1][at] == 'a' ? 'b' : 'a';
    int item = r.post("bad.bin", bad);
    const ProcessedEntry &damaged = r.decode(item);
    EXPECT_EQ(damaged.status, "Error: yEnc CRC mismatch in part 2");
    EXPECT_EQ(readFile(r.folder() + "bad.bin").size(), file.size()) << "the written file stays";
    // ... and is listed, so that it can be opened after a warning.
    EXPECT_EQ(damaged.fileName, r.folder() + "bad.bin");
    r.prompter.setAnswer(false);
    r.decoder.LaunchProcessed(r.processed.rowCount() - 1);
    EXPECT_TRUE(r.opened.isEmpty());
    EXPECT_EQ(r.prompter.questions.last(), "This file did not decode cleanly (Error: yEnc CRC mismatch in part 2) and is damaged.  Open it anyway?");
    r.prompter.setAnswer(true);
    r.decoder.LaunchProcessed(r.processed.rowCount() - 1);
    EXPECT_EQ(r.opened, QStringList{r.folder() + "bad.bin"});
    EXPECT_EQ(r.count("yDecoding ("), 3) << "later parts still decode";

    // A part shorter than its trailer says.
    QList<QByteArray> shortPart = three("short.bin");
    shortPart[1].replace("=yend size=10000", "=yend size=10001");
    EXPECT_EQ(r.decode(r.post("short.bin", shortPart)).status, "Error: yEnc size mismatch in part 2");

    // Offsets and sizes beyond the file's declared size= are refused, and never written:
    // a hostile begin= does not fill the disk.
    const QByteArray data = QByteArray::fromStdString(synth::yencEncode(file.constData(), 1000));
    const struct {
        QByteArray post, says;
    } hostile[] = {
        {"=ybegin part=2 total=2 line=128 size=2000 name=far.bin\r\n=ypart begin=999999999999 end=1000000000999\r\n" + data
             + "=yend size=1000 part=2\r\n",
         "part begins beyond the file's size"},
        {"=ybegin part=2 total=2 line=128 size=1500 name=far.bin\r\n=ypart begin=1001 end=2000\r\n" + data
             + "=yend size=1000 part=2\r\n",
         "part claims more than the file's size"},
        {"=ybegin part=1 total=1 line=128 size=500 name=far.bin\r\n=ypart begin=1 end=500\r\n" + data + "=yend part=1\r\n",
         "more data than the file's size"},
        {"=ybegin part=2 total=2 line=128 name=far.bin\r\n=ypart begin=900000001 end=900001000\r\n" + data + "=yend part=2\r\n",
         "part without the file's size="},
    };
    for (const auto &h : hostile) {
        const ProcessedEntry &e = r.decode(r.post("far.bin", {h.post}));
        EXPECT_TRUE(e.status.endsWith(h.says)) << e.status.toStdString();
        qint64 biggest = 0;
        for (const QString &f : filesIn(r.core.settings.Download_Path)) biggest = std::max(biggest, QFileInfo(f).size());
        EXPECT_LE(biggest, 30000) << "nothing beyond what the posts declare";
    }

    // Parts without CRCs: a hole in the middle is filled with 254 and reported.
    const QList<QByteArray> holed{yencPart(file, 1, 10000, 1, 3, "holed.bin", false),
                                  yencPart(file, 20001, 30000, 3, 3, "holed.bin", false)};
    EXPECT_EQ(r.decode(r.post("holed.bin", holed)).status, "Error: yEnc data missing before part 2");
    const QByteArray h = readFile(r.folder() + "holed.bin");
    ASSERT_EQ(h.size(), file.size());
    EXPECT_EQ(h.mid(10000, 10000), QByteArray(10000, char(254)));
    EXPECT_EQ(h.mid(20000), file.mid(20000));

    // The end of the file never arrived.
    const QList<QByteArray> cut{yencPart(file, 1, 10000, 1, 3, "cut.bin", false), yencPart(file, 10001, 20000, 2, 3, "cut.bin", false)};
    EXPECT_EQ(r.decode(r.post("cut.bin", cut)).status, "Error: yEnc data missing at the end of the file");

    // Every part fine on its own, but the whole-file CRC disagrees.
    QList<QByteArray> wrongCrc = three("whole.bin");
    const qsizetype c = wrongCrc[2].indexOf("crc32=", wrongCrc[2].indexOf("pcrc32=") + 7);
    wrongCrc[2].replace(c + 6, 8, "00000000");
    EXPECT_EQ(r.decode(r.post("whole.bin", wrongCrc)).status, "Error: yEnc CRC mismatch in file");

    // Parts that arrived out of order and overlap still give the file.
    QList<QByteArray> overlap{yencPart(file, 15001, 30000, 2, 2, "overlap.bin"), yencPart(file, 1, 16000, 1, 2, "overlap.bin")};
    const ProcessedEntry &ok = r.decode(r.post("overlap.bin", overlap));
    EXPECT_EQ(ok.status, "Decode successful");
    EXPECT_TRUE(readFile(ok.fileName) == file);

    // An escape as the very last data character, and no =yend at all.
    EXPECT_TRUE(r.decode(r.post("esc.bin", {"=ybegin line=128 size=3 name=esc.bin\r\nKL=\r\n=yend size=3\r\n"}))
                    .status.startsWith("Error: yEnc decoder Error:"));
    EXPECT_TRUE(r.decode(r.post("noend.bin", {"=ybegin line=128 size=3 name=noend.bin\r\nKLM\r\n"}))
                    .status.startsWith("Error: yEnc decoder Error:"));
    EXPECT_EQ(r.batch.batchRows(), 0);
}

TEST(Decode, YencPlacementAndBytes)
{
    DecodeRig r;
    YencDecoder &y = r.decoder.yenc;
    const QString out = r.dir.path() + "/placed.bin";
    // Part 2 at begin=384001 after 256000 bytes: 128000 bytes of 254 first.
    EXPECT_TRUE(writeFile(out, QByteArray(256000, 'A')));
    const QByteArray tail = randomBytes(5000, 5);
    const QString part = r.dir.path() + "/p2.uue";
    EXPECT_TRUE(writeFile(part, "=ybegin part=2 line=128 size=389000 name=x\r\n=ypart begin=384001 end=389000\r\n"
                        + QByteArray::fromStdString(synth::yencEncode(tail.constData(), size_t(tail.size()))) + "=yend size=5000\r\n"));
    YencPartInfo info;
    EXPECT_EQ(y.yEncDecodePart(part, out, &info), "");
    EXPECT_EQ(info.begin, 384001);
    const QByteArray d = readFile(out);
    ASSERT_EQ(d.size(), 389000);
    EXPECT_EQ(d.mid(256000, 128000), QByteArray(128000, char(254)));
    EXPECT_EQ(d.mid(384000), tail);

    // A single-part post starts at byte 1; CR and LF never reach the file; "=}" is 19,
    // "*" is 0 and a character of value 41 is 255.
    const QString single = r.dir.path() + "/single.uue";
    EXPECT_TRUE(writeFile(single, "Subject: s\r\n\r\n=ybegin line=128 size=3 name=s.bin\r\n=}*\r\n\n\r)\r\n=yend size=3\r\n"));
    const QString s = r.dir.path() + "/single.bin";
    EXPECT_TRUE(writeFile(s, "longer old content"));
    EXPECT_EQ(y.yEncDecodeArticle(single, s), "");
    EXPECT_EQ(readFile(s).left(3), QByteArray("\x13\x00\xff", 3));

    // Only the first 60000 characters are searched for the header.
    const QString late = r.dir.path() + "/late.uue";
    EXPECT_TRUE(writeFile(late, QByteArray(60000, 'x') + "\r\n=ybegin line=128 size=1 name=late.bin\r\nK\r\n=yend\r\n"));
    EXPECT_FALSE(y.yEncCheck(late));
    EXPECT_TRUE(y.yEncCheck(single));
    EXPECT_EQ(y.yEncGetFilename(single), "s.bin");
    EXPECT_EQ(y.yEncDecodePart(late, out), "yEnc decoder: no =ybegin");
    EXPECT_EQ(y.yEncDecodeArticle(late, out), "yEnc decoder Error: no ybegin=!");

    // Headers that carry every keyword change nothing: part, begin, size and name come from
    // the yEnc lines alone, and "=ybegin " counts only at the start of a line.
    const QString hostile = r.dir.path() + "/hostile.uue";
    const QByteArray body = randomBytes(3000, 6);
    EXPECT_TRUE(writeFile(hostile, "Subject: probe begin=777 name=x.bin part=9 size=5 =ybegin part=9 name=y.bin\r\n"
                                   "X-Note: =ypart begin=777 end=800\r\n\r\n"
                                   "=ybegin part=2 line=128 size=6000 name=real.bin\r\n=ypart begin=3001 end=6000\r\n"
                          + QByteArray::fromStdString(synth::yencEncode(body.constData(), size_t(body.size()))) + "=yend size=3000 part=2\r\n"));
    EXPECT_EQ(y.yEncGetFilename(hostile), "real.bin");
    const QString placed = r.dir.path() + "/hostile.bin";
    YencPartInfo hi;
    EXPECT_EQ(y.yEncDecodePart(hostile, placed, &hi), "");
    EXPECT_EQ(hi.begin, 3001);
    EXPECT_EQ(hi.partText, "2");
    EXPECT_EQ(hi.fileSize, 6000);
    EXPECT_EQ(readFile(placed).mid(3000), body);
    // A =ypart line whose begin= is not a number is refused, not read as 0.
    const QString badBegin = r.dir.path() + "/badbegin.uue";
    EXPECT_TRUE(writeFile(badBegin, "=ybegin part=2 line=128 size=6000 name=b.bin\r\n=ypart begin=3x01 end=6000\r\nK\r\n=yend size=1\r\n"));
    EXPECT_EQ(y.yEncDecodePart(badBegin, placed), "yEnc decoder Error: =ypart without a valid begin=");
}

// A yEnc post whose last part is on no server: every part that came is written at its
// offset (the rest is left for par2), whichever parts are missing; never handed to libuu.
TEST(Decode, AYencFileWithMissingPartsKeepsWhatCame)
{
    const QByteArray data = randomBytes(9000, 9);
    for (const QList<int> &missing : QList<QList<int>>{{2}, {3}, {1}, {1, 3}}) {
        SCOPED_TRACE(QStringLiteral("missing %1").arg(missing.first()).toStdString());
        DecodeRig r;
        const int total = missing == QList<int>{2} ? 2 : 3;
        const int partBytes = 9000 / total;
        DecodeJob job;
        job.item = 1;
        job.folder = r.dir.path() + "/";
        job.displayName = "gaps.bin";
        for (int k = 1; k <= total; ++k) {
            const QString f = r.dir.path() + QStringLiteral("/%1.UUE").arg(k);
            if (missing.contains(k)) ASSERT_TRUE(writeFile(r.dir.path() + QStringLiteral("/%1.MISSING").arg(k), {}));
            else ASSERT_TRUE(writeFile(f, "Subject: x\r\n\r\n" + yencPart(data, qint64(k - 1) * partBytes + 1, qint64(k) * partBytes, k, total, "gaps.bin")));
            job.parts.push_back(missing.contains(k) ? r.dir.path() + QStringLiteral("/%1.MISSING").arg(k) : f);
            job.partZero.push_back(missing.contains(k));
        }
        DecodeWork w;
        const DecodeOutcome o = w.run(job);
        EXPECT_FALSE(o.ok);
        EXPECT_TRUE(o.status.startsWith("yEnc data missing")) << o.status.toStdString();
        const QByteArray got = readFile(r.dir.path() + "/gaps.bin");
        for (int k = 1; k <= total; ++k)
            if (!missing.contains(k)) {
                EXPECT_EQ(got.mid((k - 1) * partBytes, partBytes), data.mid((k - 1) * partBytes, partBytes)) << k;
            }
    }
}

// A decode writes beside the final name and gives it only at the end: meanwhile no file of
// that name exists, and a decode cut short leaves neither.
TEST(Decode, TheFinalNameOnlyForAWholeDecode)
{
    const QByteArray data = randomBytes(600000, 10);
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut short" : "whole");
        DecodeRig r;
        DecodeJob job;
        job.item = 1;
        job.folder = r.dir.path() + "/";
        for (int k = 1; k <= 2; ++k) {
            const QString f = r.dir.path() + QStringLiteral("/%1.UUE").arg(k);
            ASSERT_TRUE(writeFile(f, yencPart(data, qint64(k - 1) * 300000 + 1, qint64(k) * 300000, k, 2, "whole.bin")));
            job.parts.push_back(f);
            job.partZero.push_back(false);
        }
        const QString final = r.dir.path() + "/whole.bin";
        std::atomic<bool> stop{false};
        DecodeWork w;
        w.cancel = &stop;
        bool finalSeen = false, besideSeen = false;
        w.yenc.partProgress = [&](qint64, qint64) {
            finalSeen = finalSeen || QFileInfo::exists(final);
            besideSeen = besideSeen || QFileInfo::exists(final + ".vtpart");
            if (cut) stop = true;
        };
        const DecodeOutcome o = w.run(job);
        EXPECT_FALSE(finalSeen);
        EXPECT_TRUE(besideSeen);
        EXPECT_FALSE(QFileInfo::exists(final + ".vtpart"));
        EXPECT_EQ(o.ok, !cut);
        EXPECT_EQ(QFileInfo::exists(final), !cut);
        if (!cut) {
            EXPECT_EQ(readFile(final), data);
        }
    }
}

// Both carry-less-multiplication CRCs against zlib's: every length up to a few blocks,
// every alignment, a running CRC carried in, and the combine of two pieces against the whole.
TEST(Decode, CrcAgreesWithZlib)
{
    const QByteArray data = randomBytes(70000, 21);
    const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
    QRandomGenerator g(5);
    auto zlib = [](const uint8_t *d, size_t n, uint32_t seed = 0) { return yencCrc32Kernel(CrcKernel::Zlib, d, n, seed); };
    for (CrcKernel k : {CrcKernel::Clmul, CrcKernel::Vpclmul}) {
        for (size_t len = 0; len < 700; ++len)
            for (size_t at = 0; at < 16; ++at) {
                const uint32_t seed = g.generate();
                ASSERT_EQ(yencCrc32Kernel(k, p + at, len, seed), zlib(p + at, len, seed)) << len << " at " << at;
            }
        for (int round = 0; round < 200; ++round) {
            const size_t at = g.bounded(64), len = g.bounded(69000), cut = g.bounded(int(len) + 1);
            const uint32_t whole = yencCrc32Kernel(k, p + at, len);
            ASSERT_EQ(whole, zlib(p + at, len));
            ASSERT_EQ(yencCrc32Combine(yencCrc32Kernel(k, p + at, cut), yencCrc32Kernel(k, p + at + cut, len - cut),
                                       qint64(len - cut)),
                      whole);
        }
    }
}

namespace {

struct KernelRun {
    QByteArray out;
    std::vector<std::pair<size_t, YencStop>> stops;
    YencState end = YencState::LineStart;
    bool operator==(const KernelRun &o) const { return out == o.out && stops == o.stops && end == o.end; }
};

// One kernel over `text` cut into pieces of 1..maxPiece bytes (1: byte by byte), going on
// after each stop as a caller would.
KernelRun runKernel(YencKernel k, const QByteArray &text, bool raw, QRandomGenerator &g, int maxPiece)
{
    KernelRun r;
    std::vector<uint8_t> buf(size_t(text.size()) + 64);
    size_t i = 0, o = 0;
    const size_t n = size_t(text.size());
    while (i < n) {
        const size_t want = maxPiece == 1 ? 1 : g.bounded(4) ? size_t(g.bounded(1, 200)) : size_t(g.bounded(1, maxPiece + 1));
        const YencStep s = yencDecode(k, text.constData() + i, std::min(n - i, want), buf.data() + o, r.end, raw);
        EXPECT_TRUE(s.consumed > 0 && s.consumed <= want && s.produced <= s.consumed);
        i += s.consumed;
        o += s.produced;
        if (s.stop != YencStop::None) r.stops.emplace_back(i, s.stop);
    }
    r.out = QByteArray(reinterpret_cast<const char *>(buf.data()), qsizetype(o));
    return r;
}

} // namespace

TEST(Decode, EveryKernelMatchesTheByteRuleOnWireText)
{
    // Encoded text with escapes, line breaks and runs of plain bytes, and the same text as
    // the server sends it (dot-stuffed lines at every position, its terminator), cut at
    // every kind of place: every kernel gives the byte rule's bytes, stops and state. The
    // real encoder's text adds escaped tabs, blanks and leading dots; input no encoder
    // writes (escapes in a row, escaped line breaks, "=y" in a line, lone dots) too.
    QRandomGenerator g(99);
    struct Case {
        QByteArray plain, text;
    };
    std::vector<Case> cases;
    for (int round = 0; round < 30; ++round) {
        const QByteArray plain = randomBytes(int(g.bounded(1, 5000)), quint32(round));
        cases.push_back({plain, QByteArray::fromStdString(synth::yencEncode(plain.constData(), size_t(plain.size()),
                                                                             int(g.bounded(1, 200))))});
    }
    const QByteArray plain = randomBytes(300000, 77);
    const QByteArray real = uuenview("-y", "real.bin", plain, 5000).value(0);
    const qsizetype body = real.indexOf("\r\n", real.indexOf("=ybegin ")) + 2, yend = real.indexOf("\r\n=yend") + 2;
    ASSERT_TRUE(body > 1 && yend > body) << real.left(200).toStdString();
    cases.push_back({plain, real.mid(body, yend - body)});
    // Lines of dots: a stuffed dot at every place a line can start in a 64-byte block.
    QByteArray dots;
    for (int len = 1; len < 70; ++len) dots += "." + QByteArray(len, 'a') + "\r\n";
    cases.push_back({{}, dots});
    const char alphabet[] = "==\r\n*a)}K..y";
    for (int round = 0; round < 1500; ++round) {
        QByteArray junk(int(g.bounded(1, 300)), Qt::Uninitialized);
        for (char &c : junk) c = alphabet[g.bounded(int(sizeof alphabet) - 1)];
        cases.push_back({{}, junk});
    }
    for (size_t c = 0; c < cases.size(); ++c) {
        const auto &[plain, text] = cases[c];
        for (bool raw : {false, true}) {
            const QByteArray in = raw && !plain.isEmpty() ? onTheWire(text) + "more" : text;
            const KernelRun want = runKernel(YencKernel::Scalar, in, raw, g, 1);
            if (!plain.isEmpty()) {
                // The post's bytes, then (on the wire) the terminator right after them.
                // (What follows the terminator is decoded too when the caller goes on.)
                EXPECT_TRUE(want.out.left(plain.size()) == plain && want.out.size() == plain.size() + (raw ? 4 : 0))
                    << c << " raw " << raw;
                if (raw) {
                    EXPECT_TRUE(want.stops.size() == 1 && want.stops[0].second == YencStop::End
                                     && want.stops[0].first == size_t(in.size()) - 4)
                    << c;
                }
            }
            for (int k = 0; k <= int(YencKernel::Avx512); ++k)
                for (int maxPiece : {70, 100000}) {
                    const KernelRun got = runKernel(YencKernel(k), in, raw, g, maxPiece);
                    ASSERT_TRUE(got == want) << "case " << c << " kernel " << yencKernelName(YencKernel(k)) << " raw " << raw
                                             << " " << (in.size() < 400 ? in.toStdString() : std::string());
                }
        }
    }
    // Whole files through the decoder with either path give the same bytes.
    DecodeRig r;
    const QByteArray file = randomBytes(700000, 1);
    const QString in = r.dir.path() + "/big.uue";
    EXPECT_TRUE(writeFile(in, yencPart(file, 1, file.size(), 1, 1, "big.bin")));
    for (bool fast : {false, true}) {
        r.decoder.yenc.useFastPath = fast;
        const QString out = r.dir.path() + (fast ? "/fast.bin" : "/scalar.bin");
        EXPECT_EQ(r.decoder.yenc.yEncDecodeArticle(in, out), "");
        EXPECT_TRUE(readFile(out) == file);
    }
}

TEST(Decode, ArticlesAsTheServerSendsThemDecodeInOnePass)
{
    // Parts of a post as ARTICLE and BODY replies: the same bytes, offsets and checks as the
    // cleaned part through the file decoder; damage is named, never decoded as good.
    const QByteArray file = randomBytes(200000, 5);
    DecodeRig r;
    YencBuffer out;
    struct Cut {
        qint64 begin, end;
    };
    for (const Cut c : {Cut{1, 65536}, Cut{65537, 140000}, Cut{140001, 200000}}) {
        const int part = c.begin == 1 ? 1 : c.end == file.size() ? 3 : 2;
        const QByteArray body = yencPart(file, c.begin, c.end, part, 3, "post.bin");
        for (const QByteArray &status : {QByteArray("222 0 <p@x> body\r\n"),
                                         QByteArray("220 0 <p@x> article\r\nSubject: =ybegin in a header\r\n\r\n")}) {
            const QByteArray raw = status + onTheWire(body);
            YencPartInfo info;
            ASSERT_EQ(yencDecodeRaw(raw, out, info), "") << part;
            EXPECT_EQ(info.begin, c.begin);
            EXPECT_EQ(info.fileSize, file.size());
            ASSERT_EQ(info.decoded, c.end - c.begin + 1);
            EXPECT_TRUE(memcmp(out.data(), file.constData() + c.begin - 1, size_t(info.decoded)) == 0);
            // The cleaned part through the file decoder agrees.
            const QString in = r.dir.path() + "/p.uue", o = r.dir.path() + "/p.out";
            ASSERT_TRUE(writeFile(in, StripArticle(raw)));
            QFile::remove(o);
            YencPartInfo cached;
            r.decoder.yenc.placeAtOffset = false;
            ASSERT_EQ(r.decoder.yenc.yEncDecodePart(in, o, &cached), "");
            EXPECT_TRUE(cached.crc == info.crc && cached.pcrc32 == info.pcrc32 && cached.crc32 == info.crc32
                        && cached.partText == info.partText);
        }
    }
    const QByteArray good = "222 0 <p@x> body\r\n" + onTheWire(yencPart(file, 1, 65536, 1, 3, "post.bin"));
    auto problem = [&](QByteArray raw) {
        YencPartInfo info;
        return yencDecodeRaw(raw, out, info);
    };
    QByteArray flipped = good;
    flipped[4000] = flipped[4000] == 'a' ? 'b' : 'a';
    EXPECT_EQ(problem(flipped), "CRC mismatch");
    const qsizetype yend = good.indexOf("=yend");
    EXPECT_EQ(problem(good.left(yend) + ".\r\n"), "no =yend");
    EXPECT_EQ(problem(good.left(yend - 200)), "no =yend");
    EXPECT_EQ(problem(QByteArray(good).replace("begin=1 ", "begin=199990 ")), "part claims more than the file's size");
    EXPECT_EQ(problem(QByteArray(good).replace("size=200000", "size=60000")), "part claims more than the file's size");
    EXPECT_EQ(problem(QByteArray(good).replace("begin=1 ", "begin=0 ")), "=ypart without a valid begin=");
    EXPECT_EQ(problem("222 0 <p@x> body\r\nplain text\r\n.\r\n"), "no =ybegin");
}

TEST(Decode, OutputNamesFromHostilePosts)
{
    DecodeRig r;
    const QByteArray data = "payload";
    auto single = [&](const QByteArray &name) {
        return yencPart(data, 1, data.size(), 1, 1, name).replace("=ybegin part=1 total=1", "=ybegin");
    };
    struct Case {
        QByteArray posted, item;
        QString expect;
    } cases[] = {
        {"../../.bashrc", "a", ".bashrc"},
        {"/etc/x", "b", "x"},
        {"sub/dir", "c", "dir"},
        {"..\\..\\win.ini", "d", "win.ini"},
        {"ta\x01" "b\x1b[31mle.txt", "e", "tab[31mle.txt"},
        {"..", "fallback name.bin", "fallback name.bin"},
        {"", "empty name.bin", "empty name.bin"},
        {"dir/", "../also/bad", "bad"},
        {"caf\xc3\xa9.jpg", "f", QString::fromUtf8("caf\xc3\xa9.jpg")},
        // A name the file system would refuse: shortened, its extension kept, never cut
        // inside a character.
        {QByteArray(4990, 'n') + ".part01.rar", "g", QString(200 - 11, u'n') + ".part01.rar"},
        {QByteArray(199, 'n') + "\xc3\xa9" + QByteArray(300, 'x'), "h", QString(199, u'n')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.posted.toStdString());
        const ProcessedEntry &e = r.decode(r.post(c.item, {single(c.posted)}));
        EXPECT_EQ(e.fileName, r.folder() + c.expect) << e.status.toStdString();
        EXPECT_EQ(readFile(r.folder() + c.expect), data);
    }
    // Nothing written outside the group's folder.
    for (const QString &f : filesIn(r.core.settings.Download_Path)) EXPECT_TRUE(f.startsWith(r.folder())) << f.toStdString();
    EXPECT_FALSE(QFileInfo::exists(r.dir.path() + "/.bashrc"));
    EXPECT_FALSE(QFileInfo::exists(r.core.settings.Download_Path + "also"));

    // The library's naming: its proposal, else the item's name without the total marker.
    EXPECT_EQ(libraryOutputName("../x/_name_", "s"), "name");
    EXPECT_EQ(libraryOutputName("(NULL)", "  my file.zip [xx/0000012]  "), "my file.zip");
    EXPECT_EQ(libraryOutputName("", "short [xx/0000001]"), "short");
    EXPECT_EQ(libraryOutputName("", "abc"), "abc");
    EXPECT_EQ(StripUnderscores("_name_"), "name");
    EXPECT_EQ(StripUnderscores("name_"), "name");
    EXPECT_EQ(StripUnderscores("_name"), "_name");
}

TEST(Decode, UniqueNamesInBothSchemes)
{
    QTemporaryDir d;
    const QString photo = d.path() + "/photo.jpg", jpeg = d.path() + "/data.jpeg";
    EXPECT_TRUE(writeFile(photo, "1"));
    EXPECT_TRUE(writeFile(jpeg, "1"));
    EXPECT_EQ(UniqueName(photo, false), d.path() + "/photo.2.jpg");
    EXPECT_TRUE(writeFile(d.path() + "/photo.2.jpg", "2"));
    EXPECT_EQ(UniqueName(photo, false), d.path() + "/photo.3.jpg");
    EXPECT_EQ(UniqueName(photo, true), d.path() + "/photo.jpg.2");
    EXPECT_TRUE(writeFile(d.path() + "/photo.jpg.2", "2"));
    EXPECT_EQ(UniqueName(photo, true), d.path() + "/photo.jpg.3");
    EXPECT_EQ(UniqueName(jpeg, false), d.path() + "/data.2.jpeg");
    EXPECT_EQ(UniqueName(jpeg, true), d.path() + "/data.jpeg.2");
    // Kinds of files whose extension takes two parts keep it whole, so a second copy is
    // still a volume of its set or archive.
    const std::pair<const char *, const char *> compound[] = {
        {"release.par2", "release.2.par2"}, {"release.vol03+04.par2", "release.2.vol03+04.par2"},
        {"film.part01.rar", "film.2.part01.rar"}, {"film.7z.001", "film.2.7z.001"}, {"src.tar.gz", "src.2.tar.gz"},
        {"README", "README.2"}, {".hidden", ".hidden.2"}};
    for (const auto &[name, second] : compound) {
        EXPECT_TRUE(writeFile(d.path() + '/' + name, "1"));
        EXPECT_EQ(UniqueName(d.path() + '/' + name, false), d.path() + '/' + second);
    }
}

TEST(Decode, FoldersPartZeroAndLaunching)
{
    DecodeRig r;
    const QByteArray file = randomBytes(4000, 2);
    // Without sub-folders the file goes straight into the download folder.
    r.core.settings.chkMakeSubDirs = false;
    EXPECT_EQ(r.decode(r.post("flat.bin", {yencPart(file, 1, 4000, 1, 1, "flat.bin")})).fileName,
              r.core.settings.Download_Path + "flat.bin");
    r.core.settings.chkMakeSubDirs = true;
    EXPECT_FALSE(QFileInfo::exists(r.folder()));
    EXPECT_EQ(r.decoder.DecodeFolder(1), r.folder());
    EXPECT_TRUE(QFileInfo(r.folder()).isDir()) << "made on first use";

    // A post with a part 00/2 (its description) beside the two data parts.
    const QByteArray marker = " [xx/0000002]";
    r.store.maketree("nfo.bin" + marker, "nfo.bin (00/2)", 5000, "2", "300", r.key, "P", "", "<z@x>");
    r.store.maketree("nfo.bin" + marker, "nfo.bin (1/2)", 5001, "2", "3000", r.key, "P", "", "<a@x>");
    r.store.maketree("nfo.bin" + marker, "nfo.bin (2/2)", 5002, "2", "3000", r.key, "P", "", "<b@x>");
    const int item = r.store.itemCount();
    r.cachePart(item, 1, "A description, not data.\r\n");
    r.cachePart(item, 2, yencPart(file, 1, 2000, 1, 2, "nfo.bin"));
    r.cachePart(item, 3, yencPart(file, 2001, 4000, 2, 2, "nfo.bin"));
    const ProcessedEntry &e = r.decode(item);
    EXPECT_EQ(e.status, "Decode successful") << r.logged.join('\n').toStdString();
    EXPECT_TRUE(readFile(e.fileName) == file);
    EXPECT_EQ(r.count("yDecoding ("), 2);
    EXPECT_EQ(r.count("Removing uue file: "), 3);

    // Launching from the processed list.
    auto launch = [&](const QString &name, const QByteArray &content = "x") {
        const QString path = r.folder() + name;
        EXPECT_TRUE(writeFile(path, content));
        r.processed.add({name, "Decode successful", path, true});
        r.prompter.questions.clear();
        r.opened.clear();
        r.decoder.LaunchProcessed(r.processed.rowCount() - 1);
        return r.prompter.questions.value(0);
    };
    r.prompter.setAnswer(false);
    EXPECT_EQ(launch("setup.ExE"), "This file is a executable program, this could be dangerous.  Launch anyway?");
    EXPECT_TRUE(r.opened.isEmpty()) << "No opens nothing";
    EXPECT_EQ(launch("keys.reg"), "WARNING: File Type .REG = Registration Entries, this could be very dangerous.  Launch anyway?");
    EXPECT_EQ(launch("run.bat"),
              "This is a batch file. Wow, don't see these much anymore.  Launching this could be quite dangerous. Launch anyway?");
    EXPECT_EQ(launch("tool.com"), "This file is a program, launching this could be dangerous.  Launch anyway?");
    EXPECT_EQ(launch("install.sh"), "This file is a shell script, launching this could be dangerous.  Launch anyway?");
    EXPECT_TRUE(launch("app.desktop").contains("desktop launcher"));
    {
        const QString path = r.folder() + "tool";
        EXPECT_TRUE(writeFile(path, "\x7f" "ELF"));
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        r.processed.add({"tool", "Decode successful", path, true});
        r.prompter.questions.clear();
        r.decoder.LaunchProcessed(r.processed.rowCount() - 1);
        EXPECT_EQ(r.prompter.questions.value(0), "This file is marked executable, this could be dangerous.  Launch anyway?");
        EXPECT_TRUE(r.opened.isEmpty());
    }
    r.prompter.setAnswer(true);
    launch("setup.exe");
    EXPECT_EQ(r.opened, QStringList{r.folder() + "setup.exe"});
    EXPECT_EQ(launch("photo.jpg"), "") << "no question for harmless types";
    EXPECT_EQ(r.opened, QStringList{r.folder() + "photo.jpg"});

    r.processed.add({"failed", "Error: nothing to decode", "", false});
    r.prompter.messages.clear();
    r.opened.clear();
    r.decoder.LaunchProcessed(r.processed.rowCount() - 1);
    EXPECT_EQ(r.prompter.messages, QStringList{"No file to launch, it failed to decode."});
    EXPECT_TRUE(r.opened.isEmpty());
    r.decoder.LaunchProcessed(-1);
    EXPECT_TRUE(r.opened.isEmpty());
}

// Decodes on their own thread: results come back in the order queued and change the
// batch only then; the program's exit while one runs ends it without touching the item
// (its parts stay cached, it stays in the batch, no file is left).
TEST(Decode, OnTheDecodeThread)
{
    DecodeRig r;
    const QByteArray a = randomBytes(300000, 31), b = randomBytes(200000, 32);
    const int ia = r.post("a.bin", {yencPart(a, 1, a.size(), 1, 1, "a.bin")});
    const int ib = r.post("b.bin", {yencPart(b, 1, b.size(), 1, 1, "b.bin")});
    {
        DecodeQueue q(r.decoder);
        std::vector<int> order;
        QObject::connect(&q, &DecodeQueue::finished, [&](int item, bool decoded, const QString &why) {
            EXPECT_TRUE(decoded) << why.toStdString();
            order.push_back(item);
        });
        ASSERT_TRUE(q.enqueue(ia));
        ASSERT_TRUE(q.enqueue(ib));
        ASSERT_TRUE(q.enqueue(ia));   // already queued: not again
        EXPECT_EQ(q.pending(), 2);
        EXPECT_EQ(r.processed.rowCount(), 0) << "nothing is applied before the event loop runs";
        ASSERT_TRUE(waitFor([&] { return q.idle(); }, 20000));
        EXPECT_EQ(order, (std::vector<int>{ia, ib}));
        EXPECT_EQ(readFile(r.folder() + "a.bin"), a);
        EXPECT_EQ(readFile(r.folder() + "b.bin"), b);
        EXPECT_EQ(r.batch.batchRows(), 0);
    }
    const QByteArray c = randomBytes(100000, 33);
    const int ic = r.post("c.bin", {yencPart(c, 1, c.size(), 1, 1, "c.bin")});
    const int rows = r.processed.rowCount();
    {
        DecodeQueue q(r.decoder);
        std::atomic<bool> entered{false};
        q.onJobStart = [&](int) {
            entered = true;
            while (!q.cancelling()) QThread::usleep(500);
        };
        ASSERT_TRUE(q.enqueue(ic));
        ASSERT_TRUE(waitFor([&] { return entered.load(); }, 20000));
    }   // the program ends here
    EXPECT_EQ(r.processed.rowCount(), rows);
    EXPECT_TRUE(r.store.item(ic).inBatch);
    EXPECT_TRUE(QFileInfo::exists(r.cache.PartCacheFile(ic, 1)));
    EXPECT_FALSE(QFileInfo::exists(r.folder() + "c.bin"));

    // The headers cleared while the decode runs: the outcome is listed under the name the
    // item had, and nothing of the store or the batch is touched.
    {
        DecodeQueue q(r.decoder);
        std::atomic<bool> entered{false}, release{false};
        q.onJobStart = [&](int) {
            entered = true;
            while (!release) QThread::usleep(500);
        };
        ASSERT_TRUE(q.enqueue(ic));
        ASSERT_TRUE(waitFor([&] { return entered.load(); }, 20000));
        r.batch.RemoveFromBatch(ic, false, false);
        r.store.clear();
        release = true;
        ASSERT_TRUE(waitFor([&] { return q.idle(); }, 20000));
    }
    ASSERT_EQ(r.processed.rowCount(), rows + 1);
    EXPECT_EQ(r.processed.entry(rows).status, "Decode successful");
    EXPECT_EQ(r.processed.entry(rows).subject, "c.bin");
    EXPECT_EQ(readFile(r.folder() + "c.bin"), c);
    EXPECT_EQ(r.store.itemCount(), 0);
}
