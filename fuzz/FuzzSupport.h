#pragma once
// Shared by the fuzz targets: a scratch folder for the run, files in and out, and a check
// that stops the run with a message (libFuzzer then keeps the input).
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace vt::fuzz {

inline const QString &scratch()
{
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

inline void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) abort();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

} // namespace vt::fuzz
