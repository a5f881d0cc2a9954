// An overview burst as a server might send it, crunched into the store: whatever it holds,
// every stored text is free of line breaks and NUL (the header file is line-based), parts
// are no more than the lines, and the group's mark only moves up. A burst parsed whole, as a
// many-connection scan parses it, files the same headers into a second store.
#include "FuzzSupport.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include "scan/ScanDriver.h"

using namespace vt;

static bool clean(const QByteArray &t) { return !t.contains('\r') && !t.contains('\n') && !t.contains('\0'); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QuietPrompter prompter;
    static AppCore core(AppPaths(fuzz::scratch()), prompter);
    static Session session(core);
    static NewsgroupTable groups(core.log, prompter, core.ui);
    static bool once = groups.addGroup("alt.binaries.fuzz");
    (void)once;
    HeaderStore store;
    ScanDriver scan(core, session, groups, store);
    scan.currentGroupKey = quint8(groups.rowKey(1));
    scan.groupReplyTaken = true;
    scan.groupFirst = 1;
    scan.groupLast = 1 << 30;
    scan.overviewRangeStart = 0;
    scan.overviewRangeEnd = 3000;
    scan.newToFetch = 0;
    groups.set_high_msg(scan.currentGroupKey, 0, true);

    const QByteArray burst = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)) + "\r\n.\r\n";
    scan.parse_xoverdata(burst);

    qint64 parts = 0;
    for (int i = 1; i <= store.itemCount(); ++i) {
        const HeaderItem &it = store.item(i);
        FUZZ_CHECK(clean(it.subject) && clean(it.poster));
        for (const PartRecord &p : it.parts) {
            FUZZ_CHECK(clean(QByteArray(p.subjectTail().constData(), p.subjectTail().size())));
            FUZZ_CHECK(clean(QByteArray(p.messageId().constData(), p.messageId().size())));
            parts += p.messageId().size() > 0 || p.articleNumber != 0;
        }
        FUZZ_CHECK(store.FindHash(it.subject, it.poster) >= 1);
    }
    FUZZ_CHECK(parts <= burst.count('\n'));
    FUZZ_CHECK(store.partsReadTotal <= burst.count('\n'));
    FUZZ_CHECK(groups.lastReadByKey(scan.currentGroupKey) >= 0);

    HeaderStore second;
    ScanDriver scan2(core, session, groups, second);
    scan2.currentGroupKey = scan.currentGroupKey;
    ParsedBurst whole;
    whole.burst = burst;
    parseBurst(whole);
    for (const ParsedHeader &h : whole.lines) scan2.fileHeader(h);
    FUZZ_CHECK(second.itemCount() == store.itemCount() && second.totalParts() == store.totalParts());
    for (int i = 1; i <= store.itemCount(); ++i) {
        FUZZ_CHECK(second.item(i).subject == store.item(i).subject && second.item(i).poster == store.item(i).poster);
        FUZZ_CHECK(second.item(i).parts.size() == store.item(i).parts.size());
        for (size_t k = 0; k < store.item(i).parts.size(); ++k)
            FUZZ_CHECK(second.item(i).parts[k].messageId() == store.item(i).parts[k].messageId());
    }
    return 0;
}
