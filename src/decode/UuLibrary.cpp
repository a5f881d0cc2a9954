#include "UuLibrary.h"
#include "FileNames.h"
#include <atomic>
#include <QFile>
#include <algorithm>
#include <cerrno>
#define PROTOTYPES 1
#include <uudeview.h>

namespace vt {

namespace {
// The library keeps global state: one user at a time, whatever the thread.
std::atomic<bool> g_inUse{false};

int busy(void *self, uuprogress *)
{
    auto *me = static_cast<UuLibrary *>(self);
    if (me && me->activity) me->activity();
    return me && me->cancel && me->cancel->load() ? 1 : 0;   // 1 ends the operation
}

char *filterName(void *, char *name)
{
    // The library proposes names from the posts: keep them inside the target folder.
    static QByteArray keep;
    keep = UuLibrary::fileFilter(QByteArray(name ? name : ""));
    return keep.data();
}
} // namespace

UuLibrary::UuLibrary() = default;

UuLibrary::~UuLibrary()
{
    if (m_open) shutdown();
}

bool UuLibrary::init()
{
    if (g_inUse.exchange(true)) return false;
    if (UUInitialize() != UURET_OK) {
        g_inUse = false;
        return false;
    }
    m_open = true;
    m_message.clear();
    m_severity = -1;
    UUSetMsgCallback(this, &UuLibrary::onMessage);
    UUSetBusyCallback(this, &busy, 20);
    UUSetFNameFilter(this, &filterName);
    // Text parts (an NFO, a part 0) are not files of their own.
    UUSetOption(UUOPT_USETEXT, 0, nullptr);
    UUSetOption(UUOPT_DESPERATE, 0, nullptr);
    UUSetOption(UUOPT_OVERWRITE, 0, nullptr);
    UUSetOption(UUOPT_IGNMODE, 1, nullptr);
    return true;
}

void UuLibrary::shutdown()
{
    if (!m_open) return;
    UUCleanUp();
    m_open = false;
    g_inUse = false;
}

void UuLibrary::setDesperate(bool on)
{
    m_desperate = on;
    if (m_open) UUSetOption(UUOPT_DESPERATE, on ? 1 : 0, nullptr);
}

int UuLibrary::loadFile(const QString &path)
{
    if (!m_open) return UURET_ILLVAL;
    QByteArray p = QFile::encodeName(path);
    return UULoadFile(p.data(), p.data(), 0);
}

int UuLibrary::findWithData(int from) const
{
    for (int i = from;; ++i) {
        uulist *item = UUGetFileListItem(i);
        if (!item) return 0;
        if (item->state & UUFILE_OK) return i + 1;
        if (m_desperate && !(item->state & UUFILE_NODATA)) return i + 1;
        // Incomplete files are still offered so that the decode reports why it failed.
        if ((item->state & (UUFILE_MISPART | UUFILE_NOBEGIN | UUFILE_NOEND)) && !(item->state & UUFILE_NODATA))
            return i + 1;
    }
}

int UuLibrary::merge()
{
    if (!m_open) return 0;
    int joined = 0;
    for (int pass : {0, 1, 99}) joined += std::max(0, UUSmerge(pass));
    return joined;
}

int UuLibrary::listFirst() { return m_open ? findWithData(0) : 0; }

QByteArray UuLibrary::listWalk(int handle, int *next)
{
    *next = 0;
    if (!m_open || handle < 1) return QByteArrayLiteral("(NULL)");
    uulist *item = UUGetFileListItem(handle - 1);
    if (!item) return QByteArrayLiteral("(NULL)");
    *next = findWithData(handle);
    return item->filename && *item->filename ? QByteArray(item->filename) : QByteArrayLiteral("(NULL)");
}

QByteArray UuLibrary::fileFilter(const QByteArray &name) { return safeFileNameBytes(name); }

bool UuLibrary::decode(int handle, const QString &target, int *uuret, int *mvret)
{
    *uuret = UURET_ILLVAL;
    *mvret = 0;
    if (!m_open || handle < 1) return false;
    uulist *item = UUGetFileListItem(handle - 1);
    if (!item) return false;
    QByteArray t = QFile::encodeName(target);
    errno = 0;
    *uuret = UUDecodeFile(item, t.data());
    if (*uuret == UURET_IOERR) {
        int e = 0;
        UUGetOption(UUOPT_ERRNO, &e, nullptr, 0);
        *mvret = e;
    }
    return *uuret == UURET_OK;
}

bool UuLibrary::message(QString *text, int *severity)
{
    if (m_severity < 0) return false;
    *text = m_message;
    *severity = m_severity;
    return true;
}

void UuLibrary::onMessage(void *self, char *text, int severity)
{
    auto *me = static_cast<UuLibrary *>(self);
    me->m_message = QString::fromLocal8Bit(text ? text : "").trimmed();
    me->m_severity = severity;
}

} // namespace vt
