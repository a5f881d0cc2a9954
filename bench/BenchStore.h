#pragma once
// The header store of the list benchmarks: n items of 1 to 5 parts in one group.
#include "headers/HeaderStore.h"

inline void fillBenchStore(vt::HeaderStore &store, quint8 key, int items)
{
    int number = 1;
    for (int i = 0; i < items; ++i) {
        const QByteArray name = "Post " + QByteArray::number(i * 7919 % items) + " - file.part" + QByteArray::number(i % 40) + ".rar";
        const int total = 1 + i % 5;
        for (int k = 1; k <= total; ++k)
            store.maketree(name + " [xx/" + QByteArray::number(total).rightJustified(7, '0') + "]",
                           name + " (" + QByteArray::number(k) + "/" + QByteArray::number(total) + ")", number++,
                           QByteArray::number(total), "750000", key, "poster@example.com", "Mon, 07 Dec 2026 12:00:00 +0000",
                           "<" + QByteArray::number(number) + "@x>");
    }
}
