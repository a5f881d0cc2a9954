#include "Decoder.h"
#include "BatchQueue.h"
#include "core/AppPaths.h"
#include "PartCache.h"
#include "ProcessedList.h"
#include "core/AppCore.h"
#include "decode/FileNames.h"
#include "decode/UuLibrary.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "headers/NzbOrigins.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <algorithm>

namespace vt {



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
    RunAssociated = [this](const QString &path) {
        // xdg-open gives up without a word when no program takes the file's type: that is
        // asked first (xdg-mime, never waited for), and said when so.
        const QFileInfo fi(path);
        if (!fi.isFile()) return openWithDesktop(path);
        const QMimeType type = QMimeDatabase().mimeTypeForFile(fi);
        const QString mime = type.isValid() ? type.name() : QStringLiteral("application/octet-stream");
        auto *query = new QProcess;
        query->setProgram(QStringLiteral("xdg-mime"));
        query->setArguments({QStringLiteral("query"), QStringLiteral("default"), mime});
        query->setProcessEnvironment(AppPaths::childEnvironment());
        QObject::connect(query, &QProcess::finished, query, [this, query, path, mime](int code) {
            query->deleteLater();
            const QByteArray handler = query->readAllStandardOutput().trimmed();
            if (code == 0 && handler.isEmpty()) {
                const QString text = QStringLiteral("No program on this system opens ") + QFileInfo(path).fileName() + QStringLiteral(" (")
                                     + mime + QStringLiteral("). Install one for this type of file; the file is in ")
                                     + QFileInfo(path).absolutePath();
                log(text);
                m_core.prompter.message(text);
                return;
            }
            openOrSay(path);
        });
        QObject::connect(query, &QProcess::errorOccurred, query, [this, query, path](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart) return;
            // No xdg-mime: xdg-open is tried as it is.
            query->deleteLater();
            openOrSay(path);
        });
        query->start();
        return true;
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

void Decoder::openOrSay(const QString &path)
{
    if (openWithDesktop(path)) return;
    const QString text = QStringLiteral("Nothing here opens files: xdg-open (from the package xdg-utils) cannot be started. The file is in ")
                         + QFileInfo(path).absolutePath();
    log(text);
    m_core.prompter.message(text);
}

bool Decoder::openWithDesktop(const QString &path)
{
    QProcess open;
    open.setProgram(QStringLiteral("xdg-open"));
    open.setArguments({path});
    open.setWorkingDirectory(QFileInfo(path).absolutePath());
    open.setProcessEnvironment(AppPaths::childEnvironment());
    return open.startDetached();
}

QString Decoder::resultText(int code) { return uuResultText(code); }

QString Decoder::DecodeResultText(int code)
{
    if (code == 2) m_core.sounds.PlaySound(QStringLiteral("vtv011.wav"));
    else if (code == 4) m_core.sounds.PlaySound(QStringLiteral("vtv012.wav"));
    else if (code == 5) m_core.sounds.PlaySound(QStringLiteral("vtv013.wav"));
    return resultText(code);
}

QString Decoder::DecodeFolder(int item) { return m_cache.downloadFolder(item); }

// A part numbered 0 (an NFO or a description posted as 00/15) carries no file data, but
// only when the item holds more slots than its declared total.
bool Decoder::partZero(int item, int part) const
{
    const HeaderItem &it = m_store.item(item);
    if (it.declaredTotal >= qint16(it.parts.size())) return false;
    const QByteArray tail = it.parts[size_t(part - 1)].subjectTail();
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
    job->itemUse = it.use;
    job->subject = it.subject;
    job->poster = it.poster;
    job->batchChange = m_core.settings.chkAutoDelBatch ? 'x' : '-';
    job->displayName = itemDisplayName(it);
    job->folder = dest;
    job->oldRenameStyle = m_core.settings.chkOldRenameStyle;
    job->keepFailedParts = m_core.settings.chkSaveDecodes;
    const int n = int(it.parts.size());
    // Parts decoded as they came: made durable and closed, then taken as they are.
    const DirectWriter::Paths direct = m_cache.directPaths(i);
    DirectWriter &writer = m_cache.direct();
    writer.settle(direct.journal);
    for (DirectPart &d : writer.parts(direct.journal)) {
        if (d.part > n) continue;
        job->decoded.resize(size_t(n));
        job->decoded[size_t(d.part - 1)] = std::move(d.info);
    }
    if (!job->decoded.empty()) {
        job->direct = writer.dataFile(direct.journal);
        job->journal = direct.journal;
    }
    for (int p = 1; p <= n; ++p) {
        if (job->isDirect(p)) {
            job->parts.emplace_back();
            job->partZero.push_back(false);
            continue;
        }
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
    // Its file has its name now: the parts decoded on arrival are done with.
    if (!job.journal.isEmpty()) m_cache.direct().forget(job.journal);
    return true;
}

bool Decoder::DecodeItem(int i)
{
    DecodeJob job;
    if (!prepare(i, &job)) return false;
    m_work.cancel = nullptr;
    return finish(job, m_work.run(job));
}

void Decoder::FinishDecode(const DecodeJob &job, bool ok, const QString &status, const QString &out, bool partsRemoved)
{
    const int i = job.item;
    auto removeCache = [&] {
        if (!partsRemoved) m_work.removeParts(job);
    };
    // The item may have gone while its decode ran (headers cleared or reloaded): the
    // outcome is still listed under the name it had.
    const bool same = m_store.resolve(ItemRef{i, job.itemUse}) == i;
    const QString name = QString::fromLatin1(job.displayName);
    lastDecodedFile = ok || QFileInfo(out).isFile() ? out : QString();
    // Where the parts came from, when several servers or connections fetched them.
    const QString note = sourceNote ? sourceNote(i) : QString();
    const QString from = note.isEmpty() ? QString() : QStringLiteral(" (") + note + u')';
    if (ok) {
        removeCache();
        log(out + QStringLiteral(" Decode successful... "));
        m_processed.add({name, QStringLiteral("Decode successful") + from, out, true});
        if (rowListed) rowListed(job);
        m_core.sounds.PlaySound(QStringLiteral("vtv010.wav"));
    } else {
        if (!m_core.settings.chkSaveDecodes) removeCache();
        log(out + QStringLiteral(" Decode error: ") + status);
        // What was decoded stays listed under its name: the user can still open it.
        const QString kept = !out.isEmpty() && QFileInfo(out).isFile() ? out : QString();
        m_processed.add({name, QStringLiteral("Error: ") + status + from, kept, false});
        if (rowListed) rowListed(job);
    }
    if (same) m_batch.RemoveFromBatch(i, m_core.settings.chkAutoDelBatch, false);
    if (counted) counted(ok);
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
    if (!entry.ok) {
        m_core.prompter.askYesNo(QStringLiteral("This file did not decode cleanly (") + entry.status
                                     + QStringLiteral(") and is damaged.  Open it anyway?"),
                                 &m_questions, [this, s](bool yes) {
                                     if (yes) launchChecked(s);
                                 });
        return;
    }
    launchChecked(s);
}

void Decoder::openProcessedFolder(int row)
{
    if (row < 0 || row >= m_processed.rowCount()) return;
    const QString file = m_processed.entry(row).fileName;
    QString folder = file.isEmpty() ? m_core.settings.Download_Path : QFileInfo(file).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        m_core.prompter.message(QStringLiteral("The folder ") + folder + QStringLiteral(" is not there any more."));
        return;
    }
    if (RunAssociated && !RunAssociated(folder))
        m_core.prompter.message(QStringLiteral("No program here opens folders; the files are in ") + folder);
}

void Decoder::launchChecked(const QString &s)
{
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
    auto launch = [this, s] {
        if (RunAssociated && !RunAssociated(s)) log(QStringLiteral("Could not open ") + s);
    };
    if (question.isEmpty()) launch();
    else
        m_core.prompter.askYesNo(question, &m_questions, [launch](bool yes) {
            if (yes) launch();
        });
}

} // namespace vt
