#pragma once
// A multipart/form-data body (RFC 7578) as automation tools upload NZB files: the parts,
// each with its field name, file name and bytes. A body that does not parse says why.
#include <QByteArray>
#include <QString>
#include <vector>

namespace vt {

struct FormPart {
    QByteArray name, fileName, contentType, data;
};

struct FormData {
    bool ok = false;
    QString error;
    std::vector<FormPart> parts;
    const FormPart *field(const QByteArray &name) const;
};

// contentType: the request's Content-Type header, which names the boundary.
FormData parseMultipart(const QByteArray &body, const QByteArray &contentType, int maxParts = 64);

// The boundary named by a Content-Type header; empty when there is none or it is not valid.
QByteArray multipartBoundary(const QByteArray &contentType);

} // namespace vt
