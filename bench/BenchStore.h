#pragma once
// The header store of the list benchmarks: n items of 1 to 5 parts (or of partsEach) in one group.
#include "core/AppCore.h"
#include "core/Prompter.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include <QTemporaryDir>

inline void fillBenchStore(vt::HeaderStore &store, quint8 key, int items, int partsEach = 0)
{
    int number = 1;
    for (int i = 0; i < items; ++i) {
        const QByteArray name = "Post " + QByteArray::number(i * 7919 % items) + " - file.part" + QByteArray::number(i % 40) + ".rar";
        const int total = partsEach ? partsEach : 1 + i % 5;
        for (int k = 1; k <= total; ++k, ++number)
            store.maketree(name + " [xx/" + QByteArray::number(total).rightJustified(7, '0') + "]",
                           name + " (" + QByteArray::number(k) + "/" + QByteArray::number(total) + ")", number,
                           QByteArray::number(total), "750000", key, "poster@example.com", "Mon, 07 Dec 2026 12:00:00 +0000",
                           "<" + QByteArray::number(number + 1) + "@x>");
    }
}

// One group and a store of n items in it, in a fresh application folder.
struct BenchRig {
    QTemporaryDir dir;
    vt::QuietPrompter prompter;
    vt::AppCore core{vt::AppPaths(dir.path()), prompter};
    vt::NewsgroupTable groups{core.log, prompter, core.ui};
    vt::HeaderStore store;
    explicit BenchRig(int items, int partsEach = 0)
    {
        groups.addGroup("alt.binaries.bench");
        fillBenchStore(store, quint8(groups.rowKey(1)), items, partsEach);
    }
};
