#include "Multipart.h"

namespace vt {

const FormPart *FormData::field(const QByteArray &name) const
{
    for (const FormPart &p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

namespace {
// A header parameter: name="value" (quotes and backslash escapes undone) or name=token.
QByteArray parameter(const QByteArray &header, const QByteArray &key)
{
    qsizetype at = 0;
    while (at < header.size()) {
        const qsizetype semi = header.indexOf(';', at);
        // Quoted values may hold ';': walk them whole.
        qsizetype p = at;
        while (p < header.size() && (header[p] == ' ' || header[p] == '\t' || header[p] == ';')) ++p;
        const qsizetype eq = header.indexOf('=', p);
        if (eq < 0) return {};
        const QByteArray k = header.mid(p, eq - p).trimmed().toLower();
        qsizetype v = eq + 1;
        QByteArray value;
        if (v < header.size() && header[v] == '"') {
            ++v;
            while (v < header.size() && header[v] != '"') {
                if (header[v] == '\\' && v + 1 < header.size()) ++v;
                value += header[v++];
            }
            at = v + 1;
        } else {
            const qsizetype end = semi < 0 ? header.size() : semi;
            value = header.mid(v, end - v).trimmed();
            at = end;
        }
        if (k == key) return value;
        if (at <= p) break;
    }
    return {};
}
} // namespace

QByteArray multipartBoundary(const QByteArray &contentType)
{
    const qsizetype semi = contentType.indexOf(';');
    if (semi < 0 || contentType.left(semi).trimmed().toLower() != "multipart/form-data") return {};
    const QByteArray b = parameter(contentType.mid(semi + 1), "boundary");
    // RFC 2046: 1 to 70 characters.
    if (b.isEmpty() || b.size() > 70) return {};
    return b;
}

FormData parseMultipart(const QByteArray &body, const QByteArray &contentType, int maxParts)
{
    FormData out;
    const QByteArray boundary = multipartBoundary(contentType);
    if (boundary.isEmpty()) {
        out.error = QStringLiteral("the upload is not multipart/form-data with a boundary");
        return out;
    }
    const QByteArray dash = "--" + boundary;
    const QByteArray delimiter = "\r\n" + dash;
    // The first boundary may open the body or follow a preamble line.
    qsizetype at = body.startsWith(dash) ? 0 : body.indexOf(delimiter);
    if (at < 0) {
        out.error = QStringLiteral("the upload has no part");
        return out;
    }
    at += at == 0 ? dash.size() : delimiter.size();
    for (;;) {
        if (body.mid(at, 2) == "--") break;   // the closing boundary
        // Blanks may follow a boundary before its line ends.
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) ++at;
        if (body.mid(at, 2) != "\r\n") {
            out.error = QStringLiteral("a boundary line of the upload does not end");
            return out;
        }
        at += 2;
        const qsizetype headEnd = body.indexOf("\r\n\r\n", at);
        const qsizetype next = body.indexOf(delimiter, at);
        if (next < 0) {
            out.error = QStringLiteral("the upload is cut before its closing boundary");
            return out;
        }
        if (int(out.parts.size()) >= maxParts) {
            out.error = QStringLiteral("the upload has more than %1 parts").arg(maxParts);
            return out;
        }
        FormPart part;
        qsizetype dataAt;
        if (body.mid(at, 2) == "\r\n") {
            dataAt = at + 2;   // a part without headers
        } else {
            if (headEnd < 0 || headEnd > next) {
                out.error = QStringLiteral("a part of the upload has no end to its headers");
                return out;
            }
            for (const QByteArray &line : body.mid(at, headEnd - at).split('\n')) {
                const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
                const qsizetype colon = l.indexOf(':');
                if (colon <= 0) continue;
                const QByteArray key = l.left(colon).trimmed().toLower(), value = l.mid(colon + 1).trimmed();
                if (key == "content-disposition") {
                    part.name = parameter(value.mid(value.indexOf(';') + 1), "name");
                    part.fileName = parameter(value.mid(value.indexOf(';') + 1), "filename");
                } else if (key == "content-type") {
                    part.contentType = value;
                }
            }
            dataAt = headEnd + 4;
        }
        part.data = body.mid(dataAt, next - dataAt);
        out.parts.push_back(std::move(part));
        at = next + delimiter.size();
    }
    out.ok = true;
    return out;
}

} // namespace vt
