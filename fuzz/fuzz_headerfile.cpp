// npending.dat from outside (damaged, cut, hostile): the load never reads out of bounds,
// keeps its items and batch rows inside the store, and what it loaded saves and loads back
// to the same file.
#include "FuzzSupport.h"
#include "core/OpsLog.h"
#include "core/Prompter.h"
#include "download/BatchQueue.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderStore.h"

using namespace vt;

namespace {
QByteArray loadAndSave(const QString &from, const QString &to, int *items)
{
    QuietPrompter prompter;
    OpsLog log;
    HeaderStore store;
    BatchQueue batch(store);
    HeaderFile file(store, log, prompter);
    file.LoadHeaders(from, &batch);
    for (int i = 1; i <= store.itemCount(); ++i) FUZZ_CHECK(store.item(i).parts.size() <= 1u << 24);
    for (int row : batch.rows()) FUZZ_CHECK(row >= 1 && row <= store.itemCount());
    *items = store.itemCount();
    QFile::remove(to);
    QFile::remove(HeaderFile::backupPath(to));
    file.SaveHeaders(to, &batch);
    return fuzz::readFile(to);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString dir = fuzz::scratch();
    for (const char *n : {"/in.dat", "/in.dat.bak", "/in.dat.damaged"}) QFile::remove(dir + n);
    fuzz::writeFile(dir + "/in.dat", QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    int first = 0, second = 0;
    const QByteArray a = loadAndSave(dir + "/in.dat", dir + "/a.dat", &first);
    const QByteArray b = loadAndSave(dir + "/a.dat", dir + "/b.dat", &second);
    FUZZ_CHECK(first == second || a.isEmpty());
    FUZZ_CHECK(a == b);
    return 0;
}
