#include "DecodeWork.h"
#include "core/Text.h"
#include <cerrno>
#include <cstdio>
#include "FileNames.h"
#include "UuLibrary.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace vt {

QString uuResultText(int code)
{
    static const char *texts[] = {"everything went fine",
                                  "I/O Error - examine errno",
                                  "not enough memory",
                                  "illegal value for operation",
                                  "decoder didn't find any data",
                                  "encoded data wasn't ended properly",
                                  "unsupported function (encoding)",
                                  "file exists (decoding)",
                                  "continue -- special from ScanPart",
                                  "operation cancelled"};
    return code >= 0 && code <= 9 ? QString::fromLatin1(texts[code]) : QString();
}

// The last part that carries file data (a missing last part leaves only a marker), the
// first one included: a post of two parts that lacks its second is still yEnc.
static int lastDataPart(const DecodeJob &job)
{
    for (int p = int(job.parts.size()) - 1; p >= 0; --p)
        if (!job.partZero[size_t(p)]) return p;
    return int(job.parts.size()) - 1;
}

DecodeOutcome DecodeWork::run(const DecodeJob &job)
{
    DecodeOutcome o;
    yenc.cancel = cancel;
    yenc.log = log;
    yenc.activity = activity;
    const int n = int(job.parts.size());
    bool ok = false;
    if (n > 0 && (job.isDirect(lastDataPart(job) + 1) || yenc.yEncCheck(job.parts[size_t(lastDataPart(job))])))
        ok = yencPath(job, o);
    else if (n > 0) ok = libraryPath(job, o);
    else o.status = QStringLiteral("needed uue file not found");
    o.ok = ok;
    o.cancelled = cancel && cancel->load();
    if (!o.cancelled && o.localFailure.isEmpty() && n > 0 && over) over(job, o);
    // Unlinking a post's cache files takes a while on a large post: done here, not where
    // the outcome is applied. A decode that could not be done keeps them for the next run.
    if (!o.cancelled && o.localFailure.isEmpty() && (o.ok || !job.keepFailedParts)) {
        removeParts(job);
        o.partsRemoved = true;
    }
    return o;
}

void DecodeWork::removeParts(const DecodeJob &job)
{
    if (!job.journal.isEmpty()) QFile::remove(job.journal);
    for (const QString &f : job.parts) {
        if (f.isEmpty()) continue;   // decoded on arrival
        log(QStringLiteral("Removing uue file: ") + f, true);
        QFile file(f);
        if (!file.remove()) log(file.errorString(), true);
    }
}

// The parts go into a file beside the final name, which is given only once the decode is
// over: a kill leaves no cut file under the name a user opens, and the next run writes the
// same file again from the start. A cancelled or locally failed decode leaves nothing.
// Parts decoded on arrival are already in their file (job.direct): the decode adds any
// cached parts at their offsets, checks the whole and names it, which is a rename.
bool DecodeWork::yencPath(const DecodeJob &job, DecodeOutcome &o)
{
    const int last = lastDataPart(job);
    QByteArray name = safeFileNameBytes(job.isDirect(last + 1) ? job.decoded[size_t(last)]->name
                                                               : yenc.yEncGetFilename(job.parts[size_t(last)]));
    if (name.isEmpty()) name = safeFileNameBytes(job.displayName);
    if (name.isEmpty()) name = "unnamed";
    o.out = job.folder + fileNameFromBytes(name);
    if (fileExists(o.out)) o.out = UniqueName(o.out, job.oldRenameStyle);
    const QString final = o.out;
    const bool direct = !job.direct.isEmpty();
    const QString temp = direct ? job.direct : final + QStringLiteral(".vtpart");
    if (!direct) QFile::remove(temp);
    o.out = temp;
    const bool ok = yencParts(job, o);
    o.out = final;
    if ((cancel && cancel->load()) || !o.localFailure.isEmpty()) {
        if (!direct) QFile::remove(temp);
        return false;
    }
    if (QFileInfo::exists(temp) && !moveFile(temp, final)) {
        o.status = o.localFailure = fileErrorText(final, {}, errno);
        if (!direct) QFile::remove(temp);
        return false;
    }
    return ok;
}

// A rename; across file systems (the download folder changed since the parts came) a copy.
bool DecodeWork::moveFile(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    if (errno != EXDEV) return false;
    if (!QFile::copy(from, to)) {
        QFile::remove(to);
        errno = EIO;
        return false;
    }
    QFile::remove(from);
    return true;
}

bool DecodeWork::yencParts(const DecodeJob &job, DecodeOutcome &o)
{
    const int n = int(job.parts.size());

    struct Piece {
        int part;
        YencPartInfo info;
    };
    std::vector<Piece> pieces;
    for (int p = 1; p <= n; ++p) {
        fileProgress(p, n);
        if (job.partZero[size_t(p - 1)]) continue;
        if (cancel && cancel->load()) return false;
        Piece piece{p, {}};
        if (job.isDirect(p)) {
            piece.info = *job.decoded[size_t(p - 1)];
        } else {
            const QString &f = job.parts[size_t(p - 1)];
            if (!QFileInfo::exists(f)) {
                log(QStringLiteral("decode error, uue file does not exist!"), true);
                o.status = QStringLiteral("needed uue file not found");
                return false;
            }
            const QString r = yenc.yEncDecodePart(f, o.out, &piece.info);
            if (!r.isEmpty()) {
                o.status = r;
                if (yenc.lastFailureLocal) o.localFailure = r;
                return false;
            }
        }
        // A damaged part does not stop the others: the file keeps as much as arrived.
        const QString problem = yencPartProblem(piece.info);
        if (!problem.isEmpty() && o.status.isEmpty())
            o.status = QStringLiteral("yEnc ") + problem + QStringLiteral(" in part ") + QString::number(p);
        pieces.push_back(std::move(piece));
    }
    if (!o.status.isEmpty()) return false;

    // The whole file: every byte from 1 to its size covered once, and its CRC when given.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece &a, const Piece &b) {
        return std::max<qint64>(a.info.begin, 1) < std::max<qint64>(b.info.begin, 1);
    });
    std::optional<qint64> fileSize;
    std::optional<uint32_t> fileCrc;
    for (const Piece &pc : pieces) {
        if (!fileSize && pc.info.fileSize) fileSize = pc.info.fileSize;
        if (!fileCrc && pc.info.multipart && pc.info.crc32) fileCrc = pc.info.crc32;
    }
    // Parts decoded on arrival leave holes where parts are missing: filled as a decode
    // from the cache fills them, with byte 254.
    if (!job.direct.isEmpty()) {
        QFile out(o.out);
        qint64 at = 0;
        const QByteArray fill(1 << 16, char(254));
        if (!out.open(QIODevice::ReadWrite)) return false;
        for (const Piece &pc : pieces) {
            const qint64 begin = std::max<qint64>(pc.info.begin, 1) - 1;
            while (at < begin) {
                const qint64 n = std::min<qint64>(fill.size(), begin - at);
                if (!out.seek(at) || out.write(fill.constData(), n) != n) {
                    o.status = o.localFailure = fileErrorText(o.out, out.errorString(), errno);
                    return false;
                }
                at += n;
            }
            at = std::max(at, begin + pc.info.decoded);
        }
    }
    qint64 next = 1;
    uint32_t crc = 0;
    bool contiguous = true;
    for (const Piece &pc : pieces) {
        const qint64 begin = std::max<qint64>(pc.info.begin, 1);
        if (begin > next) {
            o.status = QStringLiteral("yEnc data missing before part ") + QString::number(pc.part);
            return false;
        }
        if (begin < next) contiguous = false;   // overlapping parts: no combined CRC
        crc = yencCrc32Combine(crc, pc.info.crc, pc.info.decoded);
        next = std::max(next, begin + pc.info.decoded);
    }
    if (fileSize && next - 1 < *fileSize) {
        o.status = QStringLiteral("yEnc data missing at the end of the file");
        return false;
    }
    if (fileCrc && contiguous && (!fileSize || next - 1 == *fileSize) && crc != *fileCrc) {
        o.status = QStringLiteral("yEnc CRC mismatch in file");
        return false;
    }
    return true;
}

bool DecodeWork::libraryPath(const DecodeJob &job, DecodeOutcome &o)
{
    UuLibrary uu;
    if (!uu.init()) {
        o.status = QStringLiteral("decoder busy");
        o.localFailure = QStringLiteral("decoder busy (a preview or the article viewer is decoding)");
        return false;
    }
    // A long decode inside the library is not a silent server.
    uu.activity = activity;
    uu.cancel = cancel;
    const int n = int(job.parts.size());
    for (int p = 1; p <= n; ++p) {
        const QString &f = job.parts[size_t(p - 1)];
        if (!QFileInfo::exists(f)) {
            log(QStringLiteral("decode error, uue file does not exist!"), true);
            o.status = QStringLiteral("needed uue file not found");
            return false;
        }
        log(QStringLiteral("loading ") + f + QStringLiteral(" into decoder..."), true);
        const int r = uu.loadFile(f);
        if (r != 0) {
            log(QStringLiteral("decode err (UULoadFile) ") + num(r), true);
            return false;
        }
        if (activity) activity();
        if (cancel && cancel->load()) return false;
    }
    uu.merge();
    int h = uu.listFirst();
    if (h == 0) {
        log(QStringLiteral("Decode error: uud reports nothing to decode"), true);
        o.status = QStringLiteral("nothing to decode");
        return false;
    }
    log(QStringLiteral("Decoder ready, attachment found."), true);
    for (;;) {
        int h2 = 0;
        QByteArray proposed = uu.listWalk(h, &h2);
        if (proposed.size() < 200 && !proposed.contains('.')) {
            QFile first(job.parts.front());
            if (first.open(QIODevice::ReadOnly)) proposed = wholeNameFromPost(first.read(64 * 1024), proposed);
        }
        QByteArray name = libraryOutputName(proposed, job.subject);
        if (name.isEmpty()) name = "unnamed";
        o.out = job.folder + fileNameFromBytes(name);
        if (fileExists(o.out)) o.out = UniqueName(o.out, job.oldRenameStyle);
        int uuret = 0, mvret = 0;
        const bool ok = uu.decode(h, o.out, &uuret, &mvret);
        if (activity) activity();
        if (!ok) {
            log(QStringLiteral("decode err (uuret:") + num(uuret) + QStringLiteral("  mvret:") + num(mvret) + u')', true);
            QString msg;
            int severity = 0;
            if (uuret == 1 && uu.message(&msg, &severity)) {
                o.status = msg + QStringLiteral(" (severity:") + num(severity) + u')';
                log(o.status, true);
            } else {
                o.status = uuResultText(uuret);
                o.libraryCode = uuret;
            }
            // An I/O error is writing the output: the disk or the folder, not the post.
            if (uuret == 1) o.localFailure = o.status;
            return false;
        }
        if (h2 == 0) return true;
        h = h2;
        log(QStringLiteral("another file attachment found..."), true);
    }
}

} // namespace vt
