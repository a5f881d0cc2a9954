#pragma once
// Archives among the decoded files, and unpacking them. An archive is known by its
// signature (RAR 4, RAR 5, 7z, zip), whatever it is called; its volumes are put in order
// from their names ("name.part01.rar", "name.rar" + "name.r00", "name.7z.001") or, for RAR 5
// under other names, from the volume number in their headers. Unpacking goes through
// libarchive on the caller's thread (a locked RAR or 7z through unar); every name from inside an archive goes through the
// rule decoded names go through, so nothing is written outside the target folder.
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

namespace vt {

enum class ArchiveKind { None, Rar4, Rar5, SevenZip, Zip };
ArchiveKind archiveKindOf(const QByteArray &head);

struct ArchiveSet {
    ArchiveKind kind = ArchiveKind::None;
    QStringList volumes;   // in order, the first one first
};
// The archives among these files (each file in one archive at most); files that are not
// archives or volumes of one are left out. Volumes of a set that is not whole (a gap in
// the numbers) are still given, in order: the unpack then says what is missing.
std::vector<ArchiveSet> findArchives(const QStringList &files);

struct UnpackOutcome {
    bool ok = false;
    bool needsPassword = false;   // encrypted, and no password given opened it
    QString error;                // what went wrong, said to the user
    QStringList written;          // files written, full paths
    QStringList archives;         // nested archives among them
};

struct UnpackOptions {
    QStringList passwords;
    const std::atomic<bool> *cancel = nullptr;
    std::function<void(qint64 done, qint64 total)> progress;
    qint64 freeBytes = -1;   // room in the folder; -1: asked of the system
    bool overwrite = false;  // files of the same name are replaced (an unpack done again)
    int toolQuietMs = 60000; // a tool (lsar, unar) that shows no sign of work this long is ended
};

UnpackOutcome unpackArchive(const ArchiveSet &set, const QString &folder, const UnpackOptions &options = {});
// A locked RAR or 7z, through Debian's unar (libarchive opens locked zips only); the
// folder ends in a slash.
UnpackOutcome unpackLocked(const ArchiveSet &set, const QString &folder, const UnpackOptions &options);

// The library that unpacks, and its version, for the benchmarks.
QString unpackLibrary();

// An entry's path made safe: relative, no "." or ".." parts, each part a safe file name;
// empty when nothing safe is left.
QString safeArchivePath(const QByteArray &path);

} // namespace vt
