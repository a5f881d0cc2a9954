#include "NzbFile.h"
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <zlib.h>

namespace vt {

QString messageIdFault(const QByteArray &id)
{
    if (id.isEmpty()) return QStringLiteral("an empty message-id");
    if (id.size() > 248) return QStringLiteral("a message-id over 250 bytes");
    for (char c : id) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127) return QStringLiteral("a blank or a non-ASCII byte in a message-id");
        if (c == '<' || c == '>') return QStringLiteral("a bracket inside a message-id");
    }
    return {};
}

bool isUsableMessageId(const QByteArray &id) { return messageIdFault(id).isEmpty(); }

QString NzbParse::droppedText() const
{
    if (segmentsDropped <= 0) return {};
    QString s = QStringLiteral("%1 segment(s) left out").arg(segmentsDropped);
    for (size_t i = 0; i < droppedWhy.size(); ++i)
        s += (i == 0 ? QStringLiteral(": ") : QStringLiteral(", ")) + QString::number(droppedWhy[i].second) + QStringLiteral(" with ")
             + droppedWhy[i].first;
    return s;
}

bool unpackNzbBytes(QByteArray &data, qint64 maxBytes, QString *error)
{
    if (!(data.size() >= 2 && uchar(data[0]) == 0x1f && uchar(data[1]) == 0x8b)) return true;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        *error = QStringLiteral("The NZB file could not be unpacked.");
        return false;
    }
    QByteArray out;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(data.data());
    z.avail_in = uInt(data.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk.data());
        z.avail_out = uInt(chunk.size());
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(chunk.constData(), chunk.size() - qsizetype(z.avail_out));
        if (out.size() > maxBytes) {
            inflateEnd(&z);
            *error = QStringLiteral("The NZB file unpacks to more than %1 MB and was not read.").arg(maxBytes / (1024 * 1024));
            return false;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;   // cut short
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        *error = QStringLiteral("The NZB file is packed but damaged (gzip).");
        return false;
    }
    data = std::move(out);
    return true;
}

namespace {

QByteArray stripBrackets(QByteArray id)
{
    id = id.trimmed();
    if (id.size() >= 2 && id.startsWith('<') && id.endsWith('>')) id = id.mid(1, id.size() - 2);
    return id;
}

// Texts that end up in lines of the header file and of the log: no line breaks or other
// control characters.
QByteArray oneLine(const QString &s)
{
    QByteArray b = s.toUtf8();
    for (char &c : b)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return b.trimmed();
}

// A group name goes on a command line to the server: printable, no blanks.
bool isUsableGroupName(const QString &g)
{
    if (g.isEmpty() || g.size() > 250 || g.contains(QLatin1String(".."))) return false;
    for (QChar c : g)
        if (c.unicode() <= 32 || c.unicode() >= 127 || c == u'/' || c == u'\\') return false;
    return true;
}

// Reads the text of the current element; nested elements are an error.
QString elementText(QXmlStreamReader &x) { return x.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement); }

} // namespace

NzbParse parseNzb(const QByteArray &data, const NzbLimits &limits)
{
    NzbParse r;
    if (data.size() > limits.maxBytes) {
        r.error = QStringLiteral("The NZB file is larger than %1 MB and was not read.").arg(limits.maxBytes / (1024 * 1024));
        return r;
    }
    QXmlStreamReader x(data);
    // Internal entities could expand a small file into a huge one; none are allowed, and
    // external ones are never fetched.
    x.setEntityExpansionLimit(0);
    qint64 segments = 0;
    bool sawRoot = false;
    auto drop = [&](const QString &why, int count = 1) {
        r.segmentsDropped += count;
        for (auto &d : r.droppedWhy)
            if (d.first == why) {
                d.second += count;
                return;
            }
        r.droppedWhy.emplace_back(why, count);
    };
    auto fail = [&](const QString &why) {
        r.ok = false;
        r.error = why;
        r.doc = {};
        return r;
    };
    while (!x.atEnd()) {
        const auto t = x.readNext();
        if (t == QXmlStreamReader::DTD) {
            if (!x.entityDeclarations().isEmpty() || x.text().contains(QLatin1String("<!ENTITY")))
                return fail(QStringLiteral("The NZB file declares entities, which are not accepted."));
            continue;
        }
        if (t == QXmlStreamReader::EntityReference)
            return fail(QStringLiteral("The NZB file uses an entity, which is not accepted."));
        if (t != QXmlStreamReader::StartElement) continue;
        const auto name = x.name();
        if (!sawRoot) {
            if (name != QLatin1String("nzb")) return fail(QStringLiteral("This is not an NZB file (no <nzb> element)."));
            sawRoot = true;
            continue;
        }
        if (name == QLatin1String("meta")) {
            const QString type = x.attributes().value(QLatin1String("type")).toString();
            r.doc.meta.emplace_back(type, elementText(x));
        } else if (name == QLatin1String("file")) {
            NzbFileEntry f;
            const auto a = x.attributes();
            f.poster = oneLine(a.value(QLatin1String("poster")).toString());
            f.subject = oneLine(a.value(QLatin1String("subject")).toString());
            f.date = a.value(QLatin1String("date")).toLongLong();
            while (x.readNextStartElement()) {
                if (x.name() == QLatin1String("groups")) {
                    while (x.readNextStartElement()) {
                        if (x.name() == QLatin1String("group")) {
                            const QString g = elementText(x).trimmed();
                            if (isUsableGroupName(g) && !f.groups.contains(g)) f.groups << g;
                        } else {
                            x.skipCurrentElement();
                        }
                    }
                } else if (x.name() == QLatin1String("segments")) {
                    while (x.readNextStartElement()) {
                        if (x.name() != QLatin1String("segment")) {
                            x.skipCurrentElement();
                            continue;
                        }
                        const auto sa = x.attributes();
                        bool numOk = false, bytesOk = false;
                        NzbSegment s;
                        s.number = sa.value(QLatin1String("number")).toInt(&numOk);
                        s.bytes = sa.value(QLatin1String("bytes")).toLongLong(&bytesOk);
                        s.messageId = stripBrackets(elementText(x).toUtf8());
                        if (x.hasError()) break;
                        QString why = messageIdFault(s.messageId);
                        if (!numOk || s.number < 1 || s.number > limits.maxSegmentsPerFile) why = QStringLiteral("a missing or bad number");
                        else if ((!bytesOk && !sa.value(QLatin1String("bytes")).isEmpty()) || s.bytes < 0 || s.bytes > (qint64(1) << 31) - 1)
                            why = QStringLiteral("a bad byte count");
                        if (!why.isEmpty()) {
                            drop(why);
                            continue;
                        }
                        if (++segments > limits.maxSegments)
                            return fail(QStringLiteral("The NZB file lists more than %1 segments and was not read.")
                                            .arg(limits.maxSegments));
                        f.segments.push_back(std::move(s));
                    }
                } else {
                    x.skipCurrentElement();
                }
            }
            if (x.hasError()) break;
            std::stable_sort(f.segments.begin(), f.segments.end(),
                             [](const NzbSegment &a, const NzbSegment &b) { return a.number < b.number; });
            const auto dup = std::unique(f.segments.begin(), f.segments.end(),
                                         [](const NzbSegment &a, const NzbSegment &b) { return a.number == b.number; });
            if (dup != f.segments.end()) drop(QStringLiteral("a number given twice"), int(f.segments.end() - dup));
            f.segments.erase(dup, f.segments.end());
            if (!f.segments.empty()) r.doc.files.push_back(std::move(f));
        }
    }
    if (x.hasError()) {
        if (x.error() == QXmlStreamReader::NotWellFormedError && x.errorString().contains(QLatin1String("ntit")))
            return fail(QStringLiteral("The NZB file uses an entity, which is not accepted."));
        return fail(QStringLiteral("The NZB file is damaged (line %1: %2).").arg(x.lineNumber()).arg(x.errorString()));
    }
    if (!sawRoot) return fail(QStringLiteral("This is not an NZB file (no <nzb> element)."));
    if (r.doc.files.empty()) {
        const QString dropped = r.droppedText();
        return fail(QStringLiteral("The NZB file lists no usable file") + (dropped.isEmpty() ? QString() : QStringLiteral(" (") + dropped + u')')
                    + u'.');
    }
    r.ok = true;
    return r;
}

// Only characters XML 1.0 allows: a name with a control character in it would make the
// whole file unreadable.
static QString xmlText(const QString &in)
{
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c.isHighSurrogate() && i + 1 < in.size() && in[i + 1].isLowSurrogate()) {
            out += c;
            out += in[++i];
            continue;
        }
        const char16_t u = c.unicode();
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF || (u < 0x20 && u != '\t' && u != '\n' && u != '\r')) continue;
        out += c;
    }
    return out;
}

QByteArray writeNzb(const NzbDocument &doc)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeDTD(QStringLiteral(
        "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">"));
    w.writeStartElement(QStringLiteral("nzb"));
    w.writeDefaultNamespace(QStringLiteral("http://www.newzbin.com/DTD/2003/nzb"));
    if (!doc.meta.empty()) {
        w.writeStartElement(QStringLiteral("head"));
        for (const auto &[type, value] : doc.meta) {
            w.writeStartElement(QStringLiteral("meta"));
            w.writeAttribute(QStringLiteral("type"), xmlText(type));
            w.writeCharacters(xmlText(value));
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    for (const NzbFileEntry &f : doc.files) {
        w.writeStartElement(QStringLiteral("file"));
        w.writeAttribute(QStringLiteral("poster"), xmlText(QString::fromUtf8(f.poster)));
        w.writeAttribute(QStringLiteral("date"), QString::number(f.date));
        w.writeAttribute(QStringLiteral("subject"), xmlText(QString::fromUtf8(f.subject)));
        w.writeStartElement(QStringLiteral("groups"));
        for (const QString &g : f.groups) w.writeTextElement(QStringLiteral("group"), xmlText(g));
        w.writeEndElement();
        w.writeStartElement(QStringLiteral("segments"));
        for (const NzbSegment &s : f.segments) {
            w.writeStartElement(QStringLiteral("segment"));
            w.writeAttribute(QStringLiteral("bytes"), QString::number(s.bytes));
            w.writeAttribute(QStringLiteral("number"), QString::number(s.number));
            w.writeCharacters(QString::fromLatin1(s.messageId));
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

} // namespace vt
