#pragma once
// The processor the figures hold on, printed before them.
#include <QByteArray>
#include <QFile>
#include <QThread>
#include <cstdio>

inline void printProcessor()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &l : f.readAll().split('\n'))
            if (l.startsWith("model name")) {
                printf("processor: %s, %d cores\n", l.mid(l.indexOf(':') + 2).constData(), QThread::idealThreadCount());
                break;
            }
}
