#pragma once
// RAR 4 archives (the format of RAR 2.9 to 4.x) in the stored method, for test data: single
// or split over volumes of about volumeBytes, named "name.part1.rar" ... (newStyle) or
// "name.rar", "name.r00" ...; files may be split across volumes. Each volume's end block
// carries its number. lockedFlag marks the files as locked without locking them (enough for
// a reader to refuse them).
#include "Posts.h"
#include "Rar5Writer.h"
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>
#include <zlib.h>

namespace vt::test {

class Rar4Writer {
public:
    struct File {
        QByteArray name;   // '/' between folders; written with '\' as RAR 4 does
        QByteArray data;
    };

    static QStringList write(const QString &dir, const QString &name, const std::vector<File> &files, qint64 volumeBytes = 0,
                             bool newStyle = true, bool lockedFlag = false)
    {
        using Piece = Rar5Writer::Piece;
        std::vector<qint64> sizes;
        for (const File &f : files) sizes.push_back(f.data.size());
        const std::vector<std::vector<Piece>> volumes = Rar5Writer::cut(sizes, volumeBytes);
        const bool multi = volumes.size() > 1;
        QStringList out;
        for (size_t v = 0; v < volumes.size(); ++v) {
            QByteArray a("Rar!\x1a\x07\x00", 7);
            quint16 mainFlags = (multi ? 0x0001 : 0) | (newStyle ? 0x0010 : 0) | (v == 0 ? 0x0100 : 0);
            a += block(0x73, mainFlags, QByteArray(6, '\0'));
            for (const Piece &p : volumes[v]) {
                const File &f = files[p.file];
                const QByteArray slice = f.data.mid(p.from, p.size);
                quint16 flags = 0x8000;
                if (!p.first) flags |= 0x0001;
                if (!p.last) flags |= 0x0002;
                if (lockedFlag) flags |= 0x0004;
                QByteArray n = f.name;
                n.replace('/', '\\');
                const quint32 crc = p.last ? crc32of(f.data) : crc32of(slice);
                QByteArray body = le32(quint32(slice.size())) + le32(quint32(f.data.size())) + char(3) + le32(crc) + le32(0x21000000)
                                  + char(29) + char(0x30) + le16(quint16(n.size())) + le32(0100644) + n;
                a += block(0x74, flags, body) + slice;
            }
            const bool more = multi && v + 1 < volumes.size();
            a += block(0x7b, quint16((more ? 0x0001 : 0) | 0x0008), le16(quint16(v)));
            QString path = dir + '/' + name;
            if (!multi) path += QStringLiteral(".rar");
            else if (newStyle) path += QStringLiteral(".part%1.rar").arg(v + 1);
            else path += v == 0 ? QStringLiteral(".rar") : QStringLiteral(".r%1").arg(int(v - 1), 2, 10, QLatin1Char('0'));
            writeFile(path, a);
            out << path;
        }
        return out;
    }

private:
    static QByteArray le16(quint16 v) { return QByteArray(1, char(v & 0xff)) + char(v >> 8); }
    static QByteArray le32(quint32 v) { return le16(quint16(v & 0xffff)) + le16(quint16(v >> 16)); }
    static quint32 crc32of(const QByteArray &d) { return quint32(::crc32(0, reinterpret_cast<const Bytef *>(d.constData()), uInt(d.size()))); }
    // CRC (low 16 bits of the CRC32 from the type on), type, flags, size, the rest.
    static QByteArray block(quint8 type, quint16 flags, const QByteArray &rest)
    {
        const QByteArray h = QByteArray(1, char(type)) + le16(flags) + le16(quint16(7 + rest.size())) + rest;
        return le16(quint16(crc32of(h) & 0xffff)) + h;
    }
};

} // namespace vt::test
