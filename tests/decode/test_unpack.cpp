// Archives as posts carry them: RAR 5 (made here, stored, checked with unar), 7z and zip
// made by Debian's 7zip; found among other files by signature, volumes put in order, and
// unpacked without a byte landing outside the folder.
#include "Posts.h"
#include "Rar4Writer.h"
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include "Rar5Writer.h"
#include "decode/Unpack.h"
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

bool tool(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths) out << QFileInfo(p).fileName();
    return out;
}

} // namespace

// The RAR writers' archives are what the format's own readers take: unar unpacks single and
// split ones, RAR 5 and RAR 4 in both naming styles, to the same bytes.
TEST(Unpack, TheRarWritersAreReadByUnar)
{
    QTemporaryDir d;
    const QByteArray big = randomBytes(250000, 1), small = randomBytes(3000, 2);
    const std::vector<Rar5Writer::File> files{{"big.bin", big}, {"sub/small.txt", small}};
    ASSERT_EQ(Rar5Writer::write(d.path(), "one", files).size(), 1);
    const QStringList vols = Rar5Writer::write(d.path(), "split", files, 100000);
    ASSERT_EQ(names(vols), QStringList({"split.part1.rar", "split.part2.rar", "split.part3.rar"}));
    const std::vector<Rar4Writer::File> files4{{"big.bin", big}, {"sub/small.txt", small}};
    ASSERT_EQ(names(Rar4Writer::write(d.path(), "four", files4, 100000)), QStringList({"four.part1.rar", "four.part2.rar", "four.part3.rar"}));
    ASSERT_EQ(names(Rar4Writer::write(d.path(), "old", files4, 100000, false)), QStringList({"old.rar", "old.r00", "old.r01"}));
    for (const char *first : {"one.rar", "split.part1.rar", "four.part1.rar", "old.rar"}) {
        const QString out = d.path() + "/out-" + first;
        ASSERT_TRUE(tool(d.path(), "unar", {"-q", "-o", out, "-D", first})) << first;
        EXPECT_EQ(readFile(out + "/big.bin"), big) << first;
        EXPECT_EQ(readFile(out + "/sub/small.txt"), small) << first;
    }
}

// Archives among decoded files: by name where names say it, by signature and RAR 5 headers
// where they do not (obfuscated volumes in any order), other files left out.
TEST(Unpack, ArchivesFoundByNameAndSignatureInOrder)
{
    QTemporaryDir d;
    const std::vector<Rar5Writer::File> files{{"movie.mkv", randomBytes(300000, 3)}};
    const QStringList named = Rar5Writer::write(d.path(), "named", files, 70000);
    ASSERT_EQ(named.size(), 5);
    // The same again under random names, and a second set likewise.
    QDir().mkpath(d.path() + "/obf");
    const QStringList obf = Rar5Writer::write(d.path() + "/obf", "x", files, 70000);
    const QStringList other = Rar5Writer::write(d.path() + "/obf", "y", {{"other.bin", randomBytes(150000, 4)}}, 70000);
    const char *random[] = {"q9", "a1", "zz", "m3", "b7"};
    QStringList obfNamed;
    for (int i = 0; i < 5; ++i) {
        QFile::rename(obf[i], d.path() + "/obf/" + random[i]);
        obfNamed << d.path() + "/obf/" + random[i];
    }
    QStringList otherNamed;
    for (int i = 0; i < int(other.size()); ++i) {
        QFile::rename(other[i], d.path() + "/obf/o" + QString::number(9 - i));
        otherNamed << d.path() + "/obf/o" + QString::number(9 - i);
    }
    // RAR 4 volumes under random names, in the style of "name.rar", "name.r00".
    const QByteArray film = randomBytes(260000, 14);
    const QStringList four = Rar4Writer::write(d.path() + "/obf", "f", {{"film.mkv", film}, {"f.nfo", "nfo"}}, 70000, false);
    ASSERT_EQ(four.size(), 4);
    const char *random4[] = {"k5", "c2", "w0", "e8"};
    QStringList fourNamed;
    for (int i = 0; i < 4; ++i) {
        QFile::rename(four[i], d.path() + "/obf/" + random4[i]);
        fourNamed << d.path() + "/obf/" + random4[i];
    }
    writeFile(d.path() + "/a.bin", randomBytes(1000, 5));
    writeFile(d.path() + "/fake.rar", "not an archive at all");
    ASSERT_TRUE(tool(d.path(), "7zz", {"a", "-bd", "-v40k", "s.7z", "a.bin", "named.part1.rar"}));
    ASSERT_TRUE(tool(d.path(), "7zz", {"a", "-bd", "z.zip", "a.bin"}));
    QStringList all = obfNamed + otherNamed + named + fourNamed;
    all << d.path() + "/a.bin" << d.path() + "/fake.rar" << d.path() + "/z.zip";
    for (const QString &f : QDir(d.path()).entryList({"s.7z.*"})) all << d.path() + '/' + f;
    std::reverse(all.begin(), all.end());

    std::vector<ArchiveSet> sets = findArchives(all);
    std::map<QString, ArchiveSet> byFirst;
    for (const ArchiveSet &s : sets) byFirst[QFileInfo(s.volumes.front()).fileName()] = s;
    ASSERT_EQ(sets.size(), 6u) << [&] {
        QStringList l;
        for (const ArchiveSet &s : sets) l << names(s.volumes).join(',');
        return l.join(" | ").toStdString();
    }();
    EXPECT_EQ(byFirst["named.part1.rar"].volumes, named);
    EXPECT_EQ(byFirst["named.part1.rar"].kind, ArchiveKind::Rar5);
    EXPECT_EQ(byFirst["q9"].volumes, obfNamed);
    EXPECT_EQ(byFirst["o9"].volumes, otherNamed);
    EXPECT_EQ(byFirst["s.7z.001"].kind, ArchiveKind::SevenZip);
    EXPECT_EQ(names(byFirst["s.7z.001"].volumes), QStringList({"s.7z.001", "s.7z.002"}));
    EXPECT_EQ(byFirst["z.zip"].kind, ArchiveKind::Zip);
    EXPECT_EQ(byFirst["k5"].volumes, fourNamed);
    EXPECT_EQ(byFirst["k5"].kind, ArchiveKind::Rar4);
    const UnpackOutcome o = unpackArchive(byFirst["k5"], d.path() + "/out4");
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/out4/film.mkv"), film);
    EXPECT_EQ(readFile(d.path() + "/out4/f.nfo"), "nfo");
}

// Unpacked: a split RAR 5, a split 7z, zip with its password (from the list, one of
// several), a wrong or no password saying so; hostile entries never leave the folder.
TEST(Unpack, SplitArchivesPasswordsAndHostileEntries)
{
    QTemporaryDir d;
    const QByteArray movie = randomBytes(300000, 6), note = randomBytes(2000, 7);
    const QStringList rar = Rar5Writer::write(d.path(), "rel", {{"movie.mkv", movie}, {"extras/note.txt", note}}, 90000);
    UnpackOutcome o = unpackArchive({ArchiveKind::Rar5, rar}, d.path() + "/out");
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/out/movie.mkv"), movie);
    EXPECT_EQ(readFile(d.path() + "/out/extras/note.txt"), note);
    EXPECT_EQ(o.written.size(), 2);
    // Ended from outside (the program exits) as the first file is written: nothing is left
    // half written, and the archive is there for the next time.
    std::atomic<bool> stop{false};
    UnpackOptions ending;
    ending.cancel = &stop;
    ending.progress = [&](qint64, qint64) { stop = true; };
    o = unpackArchive({ArchiveKind::Rar5, rar}, d.path() + "/cut", ending);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, "cancelled");
    EXPECT_TRUE(QDir(d.path() + "/cut").entryList(QDir::Files).isEmpty());

    QDir().mkpath(d.path() + "/src");
    writeFile(d.path() + "/src/a.bin", movie);
    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-v64k", "../s.7z", "a.bin"}));
    QStringList parts;
    for (const QString &f : QDir(d.path()).entryList({"s.7z.*"}, QDir::Files, QDir::Name)) parts << d.path() + '/' + f;
    ASSERT_GT(parts.size(), 3);
    o = unpackArchive({ArchiveKind::SevenZip, parts}, d.path() + "/out7");
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/out7/a.bin"), movie);

    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-pSECRET", "../p.zip", "a.bin"}));
    const ArchiveSet zip{ArchiveKind::Zip, {d.path() + "/p.zip"}};
    for (const QStringList &wrong : {QStringList{}, QStringList{"nope"}}) {
        UnpackOptions tried;
        tried.passwords = wrong;
        o = unpackArchive(zip, d.path() + "/outp", tried);
        EXPECT_FALSE(o.ok);
        EXPECT_TRUE(o.needsPassword) << o.error.toStdString();
        EXPECT_EQ(o.error, "needs a password");
        EXPECT_FALSE(QFileInfo::exists(d.path() + "/outp/a.bin")) << "nothing half written";
    }
    UnpackOptions withList;
    withList.passwords = {"nope", "SECRET"};
    o = unpackArchive(zip, d.path() + "/outp", withList);
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/outp/a.bin"), movie);

    // A disk that fills up: the unpack fails and says so, with no file left under its name.
    QDir().mkpath(d.path() + "/outf");
    ASSERT_TRUE(QFile::link("/dev/full", d.path() + "/outf/a.bin.vtpart"));
    o = unpackArchive(zip, d.path() + "/outf", withList);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.error.startsWith("the disk is full")) << o.error.toStdString();
    EXPECT_TRUE(QDir(d.path() + "/outf").isEmpty());

    // The old zip encryption checks a password by one byte: a wrong one that gets through
    // gives bytes with a bad CRC, which are never kept, and the right one is tried alone.
    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-mx=0", "-pSECRET", "../crypto.zip", "a.bin"}));
    QByteArray passer;
    for (int i = 0; i < 20000 && passer.isEmpty(); ++i) {
        const QByteArray pw = "w" + QByteArray::number(i);
        std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), &archive_read_free);
        archive_read_support_format_zip(a.get());
        archive_read_add_passphrase(a.get(), pw.constData());
        archive_entry *e = nullptr;
        const QByteArray zipName = QFile::encodeName(d.path() + "/crypto.zip");
        char buf[64];
        if (archive_read_open_filename(a.get(), zipName.constData(), 1 << 16) == ARCHIVE_OK && archive_read_next_header(a.get(), &e) == ARCHIVE_OK
            && archive_read_data(a.get(), buf, sizeof buf) > 0)
            passer = pw;
    }
    ASSERT_FALSE(passer.isEmpty());
    const ArchiveSet crypto{ArchiveKind::Zip, {d.path() + "/crypto.zip"}};
    UnpackOptions passing;
    passing.passwords = {QString::fromLatin1(passer)};
    o = unpackArchive(crypto, d.path() + "/outc", passing);
    EXPECT_TRUE(!o.ok && o.needsPassword) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(d.path() + "/outc/a.bin"));
    passing.passwords << "SECRET";
    o = unpackArchive(crypto, d.path() + "/outc", passing);
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/outc/a.bin"), movie);

    // Hostile: names that climb out or are absolute, links out of the folder, a file that
    // says it is 10 GB in a small archive.
    const QStringList evil = Rar5Writer::write(d.path(), "evil", {{"../climb.txt", "x"}, {"/abs.txt", "y"}, {"ok/../../z.txt", "z"}, {"fine.txt", "f"}});
    o = unpackArchive({ArchiveKind::Rar5, evil}, d.path() + "/oute");
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(names(o.written), QStringList{"fine.txt"});
    EXPECT_TRUE(o.error.startsWith("left out (unsafe): ")) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(d.path() + "/climb.txt"));
    EXPECT_FALSE(QFileInfo::exists("/abs.txt"));
    EXPECT_FALSE(QFileInfo::exists(d.path() + "/z.txt"));

    QDir().mkpath(d.path() + "/links");
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(d.path() + "/links/out").constData()), 0);
    ASSERT_EQ(::symlink("../../x", QFile::encodeName(d.path() + "/links/up").constData()), 0);
    ASSERT_EQ(::symlink("real.txt", QFile::encodeName(d.path() + "/links/in").constData()), 0);
    writeFile(d.path() + "/links/real.txt", "r");
    ASSERT_TRUE(tool(d.path() + "/links", "7zz", {"a", "-bd", "-snl", "../l.zip", "out", "up", "in", "real.txt"}));
    o = unpackArchive({ArchiveKind::Zip, {d.path() + "/l.zip"}}, d.path() + "/outl");
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo(d.path() + "/outl/out").isSymLink());
    EXPECT_FALSE(QFileInfo(d.path() + "/outl/up").isSymLink());
    EXPECT_EQ(QFileInfo(d.path() + "/outl/in").symLinkTarget(), d.path() + "/outl/real.txt");

    // A file that says it is 10 GB in a small archive: with less room it is refused before a
    // byte is written; with more, nothing past what the archive holds is written.
    const QStringList liar = Rar5Writer::write(d.path(), "liar", {{"big.bin", "small", qint64(10) << 30}});
    UnpackOptions roomy;
    roomy.freeBytes = qint64(1) << 30;
    o = unpackArchive({ArchiveKind::Rar5, liar}, d.path() + "/outliar", roomy);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.error.startsWith("not enough room in ")) << o.error.toStdString();
    EXPECT_TRUE(QDir(d.path() + "/outliar").isEmpty());
    roomy.freeBytes = qint64(20) << 30;
    o = unpackArchive({ArchiveKind::Rar5, liar}, d.path() + "/outliar", roomy);
    EXPECT_LE(QFileInfo(d.path() + "/outliar/big.bin").size(), 5) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(d.path() + "/outliar/big.bin.vtpart"));

    UnpackOptions tight;
    tight.freeBytes = 1000000;
    QDir().mkpath(d.path() + "/big");
    writeFile(d.path() + "/big/a.bin", randomBytes(2000000, 8));
    ASSERT_TRUE(tool(d.path() + "/big", "7zz", {"a", "-bd", "-mx=0", "../big.zip", "a.bin"}));
    o = unpackArchive({ArchiveKind::Zip, {d.path() + "/big.zip"}}, d.path() + "/outb", tight);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.error.startsWith("not enough room in ")) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(d.path() + "/outb/a.bin"));
}

// A locked 7z (libarchive opens only locked zips) goes through unar: with the right password
// from the list it unpacks, split or not; a wrong or no password says so, and an archive
// whose names are locked too is known as such; a link inside is left out, the room is
// checked first, and a failed try leaves nothing behind.
TEST(Unpack, LockedArchivesGoThroughUnar)
{
    QTemporaryDir d;
    const QByteArray data = randomBytes(200000, 9);
    QDir().mkpath(d.path() + "/src");
    writeFile(d.path() + "/src/a.bin", data);
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(d.path() + "/src/out").constData()), 0);
    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-snl", "-pSECRET", "../p.7z", "a.bin", "out"}));
    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-pSECRET", "-mhe=on", "../h.7z", "a.bin"}));
    ASSERT_TRUE(tool(d.path() + "/src", "7zz", {"a", "-bd", "-pSECRET", "-v50k", "../s.7z", "a.bin"}));
    QStringList split;
    for (const QString &f : QDir(d.path()).entryList({"s.7z.*"}, QDir::Files, QDir::Name)) split << d.path() + '/' + f;
    ASSERT_GT(split.size(), 3);
    const ArchiveSet plain{ArchiveKind::SevenZip, {d.path() + "/p.7z"}}, hidden{ArchiveKind::SevenZip, {d.path() + "/h.7z"}},
        parts{ArchiveKind::SevenZip, split};
    for (const QStringList &wrong : {QStringList{}, QStringList{"nope"}}) {
        UnpackOptions tried;
        tried.passwords = wrong;
        UnpackOutcome o = unpackArchive(plain, d.path() + "/out", tried);
        EXPECT_TRUE(!o.ok && o.needsPassword);
        EXPECT_EQ(o.error, "needs a password");
        o = unpackArchive(hidden, d.path() + "/out", tried);
        EXPECT_TRUE(!o.ok && o.needsPassword);
        EXPECT_EQ(o.error, "needs a password (its file names are locked too)");
        EXPECT_TRUE(QDir(d.path() + "/out").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    }
    UnpackOptions right;
    right.passwords = {"nope", "SECRET"};
    for (const ArchiveSet &set : {plain, hidden, parts}) {
        const QString out = d.path() + "/out-" + QFileInfo(set.volumes.front()).fileName();
        const UnpackOutcome o = unpackArchive(set, out, right);
        ASSERT_TRUE(o.ok) << o.error.toStdString();
        EXPECT_EQ(readFile(out + "/a.bin"), data);
        EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System), QStringList{"a.bin"})
            << "the link is left out, the work folder gone";
    }
    // A locked RAR 5, the same way.
    const QStringList rar = Rar5Writer::write(d.path(), "locked", {{"a.bin", data}, {"b/c.txt", "note"}}, 0, "SECRET");
    UnpackOutcome o = unpackArchive({ArchiveKind::Rar5, rar}, d.path() + "/rar-none");
    EXPECT_EQ(o.error, "needs a password");
    o = unpackArchive({ArchiveKind::Rar5, rar}, d.path() + "/rar", right);
    ASSERT_TRUE(o.ok) << o.error.toStdString();
    EXPECT_EQ(readFile(d.path() + "/rar/a.bin"), data);
    EXPECT_EQ(readFile(d.path() + "/rar/b/c.txt"), "note");
    // A locked RAR 4 is known by its headers too (libarchive cannot read it).
    const QStringList rar4 = Rar4Writer::write(d.path(), "locked4", {{"a.bin", data}}, 0, true, true);
    o = unpackArchive({ArchiveKind::Rar4, rar4}, d.path() + "/rar4");
    EXPECT_TRUE(!o.ok && o.needsPassword);
    EXPECT_EQ(o.error, "needs a password");
    o = unpackArchive(plain, d.path() + "/out-again", right);
    EXPECT_EQ(o.error.toStdString(), "left out (unsafe or a link): out");
    std::atomic<bool> exiting{true};
    UnpackOptions ending = right;
    ending.cancel = &exiting;
    o = unpackArchive(hidden, d.path() + "/ended", ending);
    EXPECT_EQ(o.error, "cancelled");
    EXPECT_TRUE(QDir(d.path() + "/ended").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    right.freeBytes = 1000;
    o = unpackArchive(plain, d.path() + "/tight", right);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.error.startsWith("not enough room in ")) << o.error.toStdString();
}

// A 7z whose headers claim 100,000,000 files (a fuzzing find): the library asks for 7 GB
// whose pages are never touched, and lsar, which it then goes to, spins without end. The
// unpack still ends, refused, with the memory in use hardly grown and nothing written.
TEST(Unpack, AHostile7zEndsInLittleMemoryAndTime)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer writes shadow memory for every page asked for";
#endif
    auto peakKb = [] {
        for (const QByteArray &l : readFile("/proc/self/status").split('\n'))
            if (l.startsWith("VmHWM:")) return l.mid(6).trimmed().split(' ').front().toLongLong();
        return qint64(0);
    };
    QTemporaryDir d;
    QByteArray found = readFile(QStringLiteral(VANTREL_SOURCE_DIR) + "/tests/decode/hostile-7z-huge-buffer");
    ASSERT_GT(found.size(), 100);
    writeFile(d.path() + "/hostile.7z", found);
    const qint64 before = peakKb();
    UnpackOptions impatient;
    impatient.toolQuietMs = 1500;
    const UnpackOutcome o = unpackArchive({ArchiveKind::SevenZip, {d.path() + "/hostile.7z"}}, d.path() + "/out", impatient);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error.toStdString(), "damaged: lsar gave no answer in 1 s");
    EXPECT_LT(peakKb() - before, 512 * 1024) << "KB more at the peak";
    EXPECT_TRUE(QDir(d.path() + "/out").isEmpty());
}
