#include "NzbImport.h"
#include "core/Text.h"
#include "headers/GroupNames.h"
#include "headers/BatchSink.h"
#include "headers/HeaderStore.h"
#include "headers/SubjectParser.h"
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace vt {

namespace {

// The last "(k/N)" of a subject.
QRegularExpressionMatch lastCounter(const QByteArray &subject)
{
    static const QRegularExpression counter(QStringLiteral("\\((\\d+)/(\\d+)\\)(?!.*\\(\\d+/\\d+\\))"));
    return counter.match(QString::fromLatin1(subject));
}

int partNumberIn(const QByteArray &subject)
{
    const auto m = lastCounter(subject);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// The subject of segment k: its counter "(1/N)" turned into "(k/N)".
QByteArray segmentSubject(const QByteArray &subject, int k)
{
    const QString s = QString::fromLatin1(subject);
    const auto m = lastCounter(subject);
    if (!m.hasMatch()) return subject;
    const QString num = QString::number(k).rightJustified(m.capturedLength(1), u'0');
    return (s.left(m.capturedStart(1)) + num + s.mid(m.capturedEnd(1))).toLatin1();
}

} // namespace

Par2Kind par2KindOf(const QByteArray &fileName)
{
    static const QRegularExpression vol(QStringLiteral("\\.vol\\d+[+-]\\d+\\.par2$"), QRegularExpression::CaseInsensitiveOption);
    const QString n = QString::fromLatin1(fileName).trimmed();
    if (!n.endsWith(QStringLiteral(".par2"), Qt::CaseInsensitive)) return Par2Kind::None;
    return vol.match(n).hasMatch() ? Par2Kind::Volume : Par2Kind::Index;
}

QByteArray fileNameInSubject(const QByteArray &subject)
{
    const qsizetype a = subject.indexOf('"');
    const qsizetype b = a >= 0 ? subject.indexOf('"', a + 1) : -1;
    if (b > a + 1) return subject.mid(a + 1, b - a - 1);
    // Without quotes: the word that ends in an extension-like tail before the counter.
    static const QRegularExpression word(QStringLiteral("([^\\s\"]+\\.[A-Za-z0-9]{1,8})(?=\\s|$)"));
    const auto m = word.match(QString::fromLatin1(subject));
    return m.hasMatch() ? m.captured(1).toLatin1() : subject.trimmed();
}

QByteArray fileNameOfItem(const HeaderItem &it)
{
    if (it.parts.empty()) return fileNameInSubject(it.subject);
    const QByteArray full = it.subject.contains(" [xx/") ? it.prefix() + it.parts.front().subjectTail() : it.subject;
    return fileNameInSubject(full);
}

NzbImport importNzbDocument(const NzbDocument &doc, const QString &nzbName, HeaderStore &store, BatchSink &batch,
                            NzbCatalog &catalog)
{
    NzbImport r;
    // Data files first, then the par2 index; recovery volumes wait until a repair asks.
    std::vector<std::pair<int, size_t>> order;
    for (size_t i = 0; i < doc.files.size(); ++i) {
        const Par2Kind k = par2KindOf(fileNameInSubject(doc.files[i].subject));
        order.emplace_back(k == Par2Kind::None ? 0 : k == Par2Kind::Index ? 1 : 2, i);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // The password for its archives: the NZB's own, else "{{password}}" in its name.
    QString password;
    for (const auto &[type, value] : doc.meta)
        if (type.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0 && !value.isEmpty()) password = value;
    if (password.isEmpty()) {
        const qsizetype open = nzbName.indexOf(QLatin1String("{{")), close = nzbName.indexOf(QLatin1String("}}"), open + 2);
        if (open >= 0 && close > open + 2) password = nzbName.mid(open + 2, close - open - 2);
    }
    int already = 0;
    QMultiHash<QByteArray, int> imported;   // first message-id -> items, for what came from NZB files before
    for (int n = 1; n <= store.itemCount(); ++n) {
        const QByteArray key = nzbKeyOf(store.item(n));
        if (!key.isEmpty()) imported.insert(key, n);
    }
    for (const auto &[kind, i] : order) {
        const NzbFileEntry &f = doc.files[i];
        const QByteArray firstId = f.segments.front().messageId;
        // The same post imported again (every segment the same): the item there is queued,
        // not doubled.
        auto samePost = [&](int item) {
            const std::vector<PartRecord> &parts = store.item(item).parts;
            if (parts.size() != f.segments.size()) return false;
            for (size_t s = 0; s < parts.size(); ++s) {
                const QByteArray id = parts[s].messageId();
                if (id != QByteArray('<' + f.segments[s].messageId + '>')) return false;
            }
            return true;
        };
        int existing = 0;
        for (auto at = imported.constFind(firstId); at != imported.cend() && at.key() == firstId && !existing; ++at)
            if (samePost(at.value())) existing = at.value();
        if (existing) {
            ++already;
        } else {
            const ParsedSubject ps = parseSubject(f.subject);
            HeaderItem it;
            QByteArray name = trimBlanks(ps.name);
            if (name.isEmpty()) name = fileNameInSubject(f.subject);
            if (name.isEmpty()) name = "unnamed";
            it.subject = name;
            it.poster = f.poster;
            it.postDate = f.date;
            it.isNew = true;
            it.displayRefresh = true;
            it.declaredTotal = qint16(std::min<size_t>(f.segments.size(), 32767));
            it.parts.reserve(f.segments.size());
            const qint32 base = catalog.takeNumbers(int(f.segments.size()));
            const qsizetype plen = name.size() > kMarkerLength && ps.name.contains(" [xx/") ? name.size() - kMarkerLength : 0;
            for (size_t s = 0; s < f.segments.size(); ++s) {
                const NzbSegment &seg = f.segments[s];
                PartRecord p;
                const QByteArray subj = segmentSubject(f.subject, seg.number);
                const QByteArray id = '<' + seg.messageId + '>';
                store.setTexts(p, QByteArrayView(subj).sliced(std::min(plen, subj.size())), id, it.parts.empty() ? nullptr : &it.parts.back());
                p.articleNumber = base + qint32(s);
                p.byteCount = qint32(std::min<qint64>(seg.bytes, std::numeric_limits<qint32>::max()));
                p.setGroupKey(kNzbGroupKey);
                it.parts.push_back(std::move(p));
            }
            existing = store.appendLoadedItem(std::move(it));
            store.AddHash(store.item(existing).subject, store.item(existing).poster, existing);
            catalog.add(firstId, NzbOrigin{nzbName, f.groups, password});
            imported.insert(firstId, existing);
            store.headersDirty = true;
        }
        r.items.push_back(existing);
        r.segments += int(f.segments.size());
        if (kind != 2 && !batch.batchPositionOf(existing)) {
            batch.AddToBatch(existing);
            if (batch.batchPositionOf(existing)) r.queued.push_back(existing);
        }
    }
    r.ok = true;
    r.message = QStringLiteral("Imported %1: %2 file(s), %3 segment(s), %4 queued")
                    .arg(nzbName)
                    .arg(doc.files.size())
                    .arg(r.segments)
                    .arg(r.queued.size());
    if (already) r.message += QStringLiteral(" (%1 already in the header list)").arg(already);
    return r;
}

NzbImport importNzbFile(const QString &path, HeaderStore &store, BatchSink &batch, NzbCatalog &catalog,
                        const NzbLimits &limits)
{
    NzbImport r;
    const QString name = QFileInfo(path).fileName();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        r.message = QStringLiteral("Cannot read ") + path + QStringLiteral(": ") + f.errorString();
        return r;
    }
    if (f.size() > limits.maxBytes) {
        r.message = name + QStringLiteral(": The NZB file is larger than %1 MB and was not read.").arg(limits.maxBytes / (1024 * 1024));
        return r;
    }
    QByteArray data = f.readAll();
    QString unpackError;
    if (!unpackNzbBytes(data, limits.maxBytes, &unpackError)) {
        r.message = name + QStringLiteral(": ") + unpackError;
        return r;
    }
    const NzbParse p = parseNzb(data, limits);
    if (!p.ok) {
        r.message = name + QStringLiteral(": ") + p.error;
        return r;
    }
    r = importNzbDocument(p.doc, name, store, batch, catalog);
    if (p.segmentsDropped) r.message += QStringLiteral("; ") + p.droppedText();
    return r;
}

NzbDocument exportNzb(const HeaderStore &store, const GroupNames *groups, const NzbCatalog &catalog,
                      const std::vector<int> &items)
{
    NzbDocument doc;
    for (int i : items) {
        if (i < 1 || i > store.itemCount()) continue;
        const HeaderItem &it = store.item(i);
        if (it.deleted || it.parts.empty()) continue;
        NzbFileEntry f;
        f.poster = it.poster;
        f.date = it.postDate;
        if (const NzbOrigin *o = catalog.originOf(it)) f.groups = o->groups;
        for (const PartRecord &p : it.parts) {
            if (p.groupKey() == kNzbGroupKey || !groups) continue;
            const QString g = groups->nameByKey(p.groupKey());
            if (!g.isEmpty() && !f.groups.contains(g)) f.groups << g;
        }
        // Scanned parts are kept in the order they came: the counter in each part's subject
        // gives its number.
        const bool counted = it.subject.contains(" [xx/");
        QByteArray firstSubject;
        int index = 0;
        for (const PartRecord &p : it.parts) {
            ++index;
            const QByteArray subject = counted ? it.prefix() + p.subjectTail() : it.subject;
            NzbSegment s;
            s.number = counted ? partNumberIn(subject) : 0;
            if (s.number < 1) s.number = index;
            s.bytes = p.byteCount;
            s.messageId = nzbBareId(QByteArray(p.messageId().constData(), p.messageId().size()));
            if (!isUsableMessageId(s.messageId)) continue;
            if (firstSubject.isEmpty() || s.number == 1) firstSubject = subject;
            f.segments.push_back(std::move(s));
        }
        std::stable_sort(f.segments.begin(), f.segments.end(),
                         [](const NzbSegment &a, const NzbSegment &b) { return a.number < b.number; });
        f.subject = firstSubject.isEmpty() ? it.subject : firstSubject;
        if (!f.segments.empty()) doc.files.push_back(std::move(f));
    }
    return doc;
}

bool writeNzbFile(const QString &path, const NzbDocument &doc, QString *error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(writeNzb(doc)) < 0 || !f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace vt
