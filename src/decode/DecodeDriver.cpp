#include "DecodeDriver.h"
#include "FileNames.h"
#include "UuLibrary.h"
#include "core/AppCore.h"
#include "download/BatchQueue.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "headers/NzbOrigins.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>

namespace vt {

// Numbers in the decoder's messages: a blank before those that are not negative.
static QString num(qint64 n) { return n >= 0 ? u' ' + QString::number(n) : QString::number(n); }

void AddProcessedEntry(ProcessedList &list, const HeaderStore &store, int item, const QString &status,
                       const QString &file, bool ok)
{
    QString name;
    if (item >= 1 && item <= store.itemCount()) name = QString::fromLatin1(itemDisplayName(store.item(item)));
    list.add({name, status, file, ok});
}

Decoder::Decoder(AppCore &core, HeaderStore &store, NewsgroupTable &groups, BatchQueue &batch, ProcessedList &processed,
                 PartCache &cache)
    : m_core(core), m_store(store), m_groups(groups), m_batch(batch), m_processed(processed), m_cache(cache)
{
    RunAssociated = [](const QString &path) {
        return QProcess::startDetached(QStringLiteral("xdg-open"), {path}, QFileInfo(path).absolutePath());
    };
    m_work.log = [this](const QString &m, bool record) { log(m, record); };
    m_work.activity = [this] {
        if (activity) activity();
    };
    m_work.fileProgress = [this](qint64 v, qint64 max) {
        m_core.ui.setBarMax(UiState::File, max);
        m_core.ui.setBar(UiState::File, v);
    };
    yenc.partProgress = [this](qint64 v, qint64 max) {
        m_core.ui.setBarMax(UiState::Part, max);
        m_core.ui.setBar(UiState::Part, v);
    };
}

void Decoder::log(const QString &msg, bool record) { m_core.LogOp(msg, record); }

QString Decoder::resultText(int code)
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

QString Decoder::DecodeResultText(int code)
{
    if (code == 2) m_core.sounds.PlaySound(QStringLiteral("vtv011.wav"));
    else if (code == 4) m_core.sounds.PlaySound(QStringLiteral("vtv012.wav"));
    else if (code == 5) m_core.sounds.PlaySound(QStringLiteral("vtv013.wav"));
    return resultText(code);
}

QString Decoder::DecodeFolder(int item)
{
    const QString base = m_core.settings.Download_Path;
    if (!m_core.settings.chkMakeSubDirs) return base;
    const HeaderItem &it = m_store.item(item);
    // An imported post belongs to no group: its files stay together in the folder itself.
    if (it.parts.empty() || it.parts.front().groupKey == kNzbGroupKey) return base;
    const QString g = m_groups.nameByKey(it.parts.front().groupKey);
    if (g.isEmpty()) return base;
    EnsureDownloadFolder(base, g);
    return base + g + u'/';
}

// A part numbered 0 (an NFO or a description posted as 00/15) carries no file data, but
// only when the item holds more slots than its declared total.
bool Decoder::partZero(int item, int part) const
{
    const HeaderItem &it = m_store.item(item);
    if (it.declaredTotal >= qint16(it.parts.size())) return false;
    const QByteArray &tail = it.parts[size_t(part - 1)].subjectTail;
    for (qsizetype at = tail.indexOf("0/"); at >= 0; at = tail.indexOf("0/", at + 1)) {
        qsizetype s = at;
        while (s > 0 && tail[s - 1] >= '0' && tail[s - 1] <= '9') --s;
        bool zero = true;
        for (qsizetype k = s; k <= at; ++k) zero = zero && tail[k] == '0';
        if (zero) return true;
    }
    return false;
}

bool Decoder::prepare(int i, DecodeJob *job)
{
    m_localFailure.clear();
    const QString dest = DecodeFolder(i);
    const QFileInfo folder(dest);
    if (!folder.isDir() || !folder.isWritable()) {
        m_localFailure = QStringLiteral("the download folder ") + dest + QStringLiteral(" cannot be written to");
        log(QStringLiteral("Decode not done: ") + m_localFailure);
        return false;
    }
    const HeaderItem &it = m_store.item(i);
    *job = DecodeJob{};
    job->item = i;
    job->subject = it.subject;
    job->displayName = itemDisplayName(it);
    job->folder = dest;
    job->oldRenameStyle = m_core.settings.chkOldRenameStyle;
    job->keepFailedParts = m_core.settings.chkSaveDecodes;
    const int n = int(it.parts.size());
    for (int p = 1; p <= n; ++p) {
        // A part that no server had decodes as a gap: its marker goes with the cache files.
        const bool missing = !m_cache.isCached(i, p) && m_cache.isMissing(i, p);
        job->parts.push_back(missing ? m_cache.missingMarker(i, p) : m_cache.PartCacheFile(i, p));
        job->partZero.push_back(missing || partZero(i, p));
    }
    return true;
}

bool Decoder::finish(const DecodeJob &job, const DecodeOutcome &o)
{
    m_core.ui.setBar(UiState::File, 0);
    if (o.libraryCode >= 0) DecodeResultText(o.libraryCode);
    m_localFailure = o.localFailure;
    if (o.cancelled || !o.localFailure.isEmpty()) {
        // Nothing is wrong with the post: its parts stay cached for the next run, and the
        // half-written file (named afresh for this decode) goes.
        if (!o.out.isEmpty()) QFile::remove(o.out);
        if (!o.localFailure.isEmpty()) log(QStringLiteral("Decode not done: ") + o.localFailure);
        return false;
    }
    FinishDecode(job, o.ok, o.status, o.out, o.partsRemoved);
    return true;
}

bool Decoder::DecodeItem(int i)
{
    DecodeJob job;
    if (!prepare(i, &job)) return false;
    m_work.cancel = nullptr;
    return finish(job, m_work.run(job));
}

// The last part that carries file data (a missing last part leaves only a marker).
static int lastDataPart(const DecodeJob &job)
{
    for (int p = int(job.parts.size()) - 1; p > 0; --p)
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
    if (n > 0 && yenc.yEncCheck(job.parts[size_t(lastDataPart(job))])) ok = yencPath(job, o);
    else if (n > 0) ok = libraryPath(job, o);
    else o.status = QStringLiteral("needed uue file not found");
    o.ok = ok;
    o.cancelled = cancel && cancel->load();
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
    for (const QString &f : job.parts) {
        log(QStringLiteral("Removing uue file: ") + f, true);
        QFile file(f);
        if (!file.remove()) log(file.errorString(), true);
    }
}

bool DecodeWork::yencPath(const DecodeJob &job, DecodeOutcome &o)
{
    const int n = int(job.parts.size());
    QByteArray name = safeFileNameBytes(yenc.yEncGetFilename(job.parts[size_t(lastDataPart(job))]));
    if (name.isEmpty()) name = safeFileNameBytes(job.displayName);
    if (name.isEmpty()) name = "unnamed";
    o.out = job.folder + fileNameFromBytes(name);
    if (fileExists(o.out)) o.out = UniqueName(o.out, job.oldRenameStyle);

    struct Piece {
        int part;
        YencPartInfo info;
    };
    std::vector<Piece> pieces;
    for (int p = 1; p <= n; ++p) {
        fileProgress(p, n);
        if (job.partZero[size_t(p - 1)]) continue;
        if (cancel && cancel->load()) return false;
        const QString &f = job.parts[size_t(p - 1)];
        if (!QFileInfo::exists(f)) {
            log(QStringLiteral("decode error, uue file does not exist!"), true);
            o.status = QStringLiteral("needed uue file not found");
            return false;
        }
        Piece piece{p, {}};
        const QString r = yenc.yEncDecodePart(f, o.out, &piece.info);
        if (!r.isEmpty()) {
            o.status = r;
            if (yenc.lastFailureLocal) o.localFailure = r;
            return false;
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
                o.status = Decoder::resultText(uuret);
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

void Decoder::FinishDecode(const DecodeJob &job, bool ok, const QString &status, const QString &out, bool partsRemoved)
{
    const int i = job.item;
    auto removeCache = [&] {
        if (!partsRemoved) m_work.removeParts(job);
    };
    // The item may have gone while its decode ran (headers cleared or reloaded): the
    // outcome is still listed under the name it had.
    const bool same = i >= 1 && i <= m_store.itemCount() && m_store.item(i).subject == job.subject;
    const QString name = QString::fromLatin1(job.displayName);
    lastDecodedFile = ok || QFileInfo(out).isFile() ? out : QString();
    if (ok) {
        removeCache();
        log(out + QStringLiteral(" Decode successful... "));
        m_processed.add({name, QStringLiteral("Decode successful"), out, true});
        m_core.sounds.PlaySound(QStringLiteral("vtv010.wav"));
    } else {
        if (!m_core.settings.chkSaveDecodes) removeCache();
        log(out + QStringLiteral(" Decode error: ") + status);
        // What was decoded stays listed under its name: the user can still open it.
        const QString kept = !out.isEmpty() && QFileInfo(out).isFile() ? out : QString();
        m_processed.add({name, QStringLiteral("Error: ") + status, kept, false});
    }
    if (same) m_batch.RemoveFromBatch(i, m_core.settings.chkAutoDelBatch, false);
}

void Decoder::LaunchProcessed(int row)
{
    if (m_processed.rowCount() == 0 || row < 0 || row >= m_processed.rowCount()) return;
    const ProcessedEntry &entry = m_processed.entry(row);
    const QString s = entry.fileName;
    if (s.trimmed().isEmpty()) {
        m_core.prompter.message(QStringLiteral("No file to launch, it failed to decode."));
        return;
    }
    if (!entry.ok && !m_core.prompter.askYesNo(QStringLiteral("This file did not decode cleanly (") + entry.status
                                              + QStringLiteral(") and is damaged.  Open it anyway?")))
        return;
    const QString upper = s.toUpper();
    QString question;
    if (upper.endsWith(QStringLiteral(".REG")))
        question = QStringLiteral("WARNING: File Type .REG = Registration Entries, this could be very dangerous.  Launch anyway?");
    else if (upper.endsWith(QStringLiteral(".EXE")))
        question = QStringLiteral("This file is a executable program, this could be dangerous.  Launch anyway?");
    else if (upper.endsWith(QStringLiteral(".COM")))
        question = QStringLiteral("This file is a program, launching this could be dangerous.  Launch anyway?");
    else if (upper.endsWith(QStringLiteral(".BAT")))
        question = QStringLiteral(
            "This is a batch file. Wow, don't see these much anymore.  Launching this could be quite dangerous. Launch anyway?");
    else if (upper.endsWith(QStringLiteral(".SH")))
        question = QStringLiteral("This file is a shell script, launching this could be dangerous.  Launch anyway?");
    else if (upper.endsWith(QStringLiteral(".DESKTOP")))
        question = QStringLiteral("This file is a desktop launcher that can run any program, this could be dangerous.  Launch anyway?");
    else if (QFileInfo fi(s); fi.isFile() && fi.isExecutable())
        question = QStringLiteral("This file is marked executable, this could be dangerous.  Launch anyway?");
    if (!question.isEmpty() && !m_core.prompter.askYesNo(question)) return;
    if (RunAssociated && !RunAssociated(s)) log(QStringLiteral("Could not open ") + s);
}

} // namespace vt
