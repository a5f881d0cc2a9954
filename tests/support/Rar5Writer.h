#pragma once
// RAR 5 archives in the stored method, as the format's technical note lays them out, for
// test data (no RAR creator is packaged for Debian): single or split over volumes of about
// volumeBytes, "name.rar" or "name.part1.rar" ...; files may be split across volumes. A
// single volume may be locked with a password (AES-256 over each file's data, as RAR 5 does).
#include "Posts.h"
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <zlib.h>

namespace vt::test {

class Rar5Writer {
public:
    struct File {
        QByteArray name;   // UTF-8, '/' between folders
        QByteArray data;
        qint64 declared = -1;   // the size its header gives, where that is not the data's (a lie)
    };

    // A piece of a file in a volume; RAR 4 volumes are cut the same way.
    struct Piece {
        size_t file;
        qint64 from, size;
        bool first, last;
    };
    // Every file's data cut into pieces that fill volumes of about volumeBytes in turn.
    static std::vector<std::vector<Piece>> cut(const std::vector<qint64> &sizes, qint64 volumeBytes)
    {
        std::vector<std::vector<Piece>> volumes(1);
        qint64 room = volumeBytes > 0 ? volumeBytes : std::numeric_limits<qint64>::max();
        for (size_t f = 0; f < sizes.size(); ++f) {
            qint64 at = 0;
            do {
                if (room <= 0) {
                    volumes.emplace_back();
                    room = volumeBytes;
                }
                const qint64 take = std::min(sizes[f] - at, room);
                volumes.back().push_back({f, at, take, at == 0, at + take == sizes[f]});
                at += take;
                room -= take + 64;
            } while (at < sizes[f]);
        }
        return volumes;
    }

    // Writes the archive into dir; returns the volumes' paths in order.
    static QStringList write(const QString &dir, const QString &name, const std::vector<File> &files, qint64 volumeBytes = 0,
                             const QByteArray &password = {})
    {
        std::vector<qint64> sizes;
        for (const File &f : files) sizes.push_back(f.data.size());
        const std::vector<std::vector<Piece>> volumes = cut(sizes, volumeBytes);
        const bool multi = volumes.size() > 1;
        QStringList out;
        for (size_t v = 0; v < volumes.size(); ++v) {
            QByteArray a("Rar!\x1a\x07\x01\x00", 8);
            // Main archive header: a volume of a set, its number from the second on.
            QByteArray main = vint(1) + vint(0) + vint((multi ? 1 : 0) | (v > 0 ? 2 : 0));
            if (v > 0) main += vint(v);
            a += header(main);
            for (const Piece &p : volumes[v]) {
                const File &f = files[p.file];
                const QByteArray slice = f.data.mid(p.from, p.size);
                quint64 flags = 0x0002;   // data area
                if (!p.first) flags |= 0x0008;
                if (!p.last) flags |= 0x0010;
                // Split pieces carry their own CRC; the last one the whole file's.
                const quint32 crc = p.last && p.first ? crc32of(f.data) : p.last ? crc32of(f.data) : crc32of(slice);
                QByteArray extra, stored = slice;
                if (!password.isEmpty() && !multi) {
                    extra = locked(password, &stored);
                    flags |= 0x0001;
                }
                QByteArray h = vint(2) + vint(flags) + (extra.isEmpty() ? QByteArray() : vint(quint64(extra.size())))
                               + vint(quint64(stored.size())) + vint(0x0004) + vint(quint64(f.declared >= 0 ? f.declared : f.data.size())) + vint(0100644) + le32(crc)
                               + vint(0) + vint(1) + vint(quint64(f.name.size())) + f.name + extra;
                a += header(h) + stored;
            }
            a += header(vint(5) + vint(0) + vint(multi && v + 1 < volumes.size() ? 1 : 0));
            const QString path = dir + '/' + name + (multi ? QStringLiteral(".part%1.rar").arg(v + 1) : QStringLiteral(".rar"));
            writeFile(path, a);
            out << path;
        }
        return out;
    }

private:
    // The file encryption record, and the data locked in its place: the key from the
    // password by PBKDF2-HMAC-SHA256 over 2^15 rounds, the password check from 32 more.
    static QByteArray locked(const QByteArray &password, QByteArray *data)
    {
        const int lg2 = 15;
        unsigned char salt[16], iv[16], key[32], check[32];
        RAND_bytes(salt, 16);
        RAND_bytes(iv, 16);
        auto derive = [&](int rounds, unsigned char *out) {
            PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), salt, 16, rounds, EVP_sha256(), 32, out);
        };
        derive(1 << lg2, key);
        derive((1 << lg2) + 32, check);
        QByteArray value(8, '\0');
        for (int i = 0; i < 32; ++i) value[i % 8] = char(value[i % 8] ^ check[i]);
        unsigned char sum[32];
        SHA256(reinterpret_cast<const unsigned char *>(value.constData()), 8, sum);
        QByteArray plain = *data;
        plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));
        QByteArray sealed(plain.size() + 16, '\0');
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        int n = 0;
        EVP_EncryptInit_ex(c, EVP_aes_256_cbc(), nullptr, key, iv);
        EVP_CIPHER_CTX_set_padding(c, 0);
        EVP_EncryptUpdate(c, reinterpret_cast<unsigned char *>(sealed.data()), &n, reinterpret_cast<const unsigned char *>(plain.constData()),
                          int(plain.size()));
        EVP_CIPHER_CTX_free(c);
        *data = sealed.left(n);
        const QByteArray record = vint(1) + vint(0) + vint(0x0001) + char(lg2) + QByteArray(reinterpret_cast<char *>(salt), 16)
                                  + QByteArray(reinterpret_cast<char *>(iv), 16) + value + QByteArray(reinterpret_cast<char *>(sum), 4);
        return vint(quint64(record.size())) + record;
    }
    static QByteArray vint(quint64 v)
    {
        QByteArray b;
        do {
            char c = char(v & 0x7f);
            v >>= 7;
            if (v) c = char(c | 0x80);
            b += c;
        } while (v);
        return b;
    }
    static QByteArray le32(quint32 v)
    {
        QByteArray b;
        for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xff);
        return b;
    }
    static quint32 crc32of(const QByteArray &d)
    {
        return quint32(::crc32(0, reinterpret_cast<const Bytef *>(d.constData()), uInt(d.size())));
    }
    // CRC32, then the size of what follows, then that.
    static QByteArray header(const QByteArray &body)
    {
        const QByteArray sized = vint(quint64(body.size())) + body;
        return le32(crc32of(sized)) + sized;
    }
};

} // namespace vt::test
