// Compressed replies from outside: a stream after COMPRESS DEFLATE, overviews after
// XFEATURE COMPRESS GZIP, or an XZVER reply. However the bytes are cut, the same replies come out and the
// same damage is seen; every reply ends as its kind says; nothing inflates past the limit.
#include "FuzzSupport.h"
#include "nntp/Deflate.h"
#include "nntp/ReplyFramer.h"
#include "nntp/Xzver.h"
#include <vector>

using namespace vt;

namespace {
struct Outcome {
    std::vector<Reply> replies;
    bool damaged = false;
};

Outcome frame(const QByteArray &in, size_t step, bool deflate)
{
    Outcome o;
    ReplyFramer f;
    f.acceptGzipReplies(!deflate);
    f.setInflateLimit(1 << 20);
    DeflateLink link;
    link.start();
    Reply r;
    for (qsizetype p = 0; p < in.size() && !o.damaged; p += qsizetype(step)) {
        const qsizetype n = std::min<qsizetype>(qsizetype(step), in.size() - p);
        if (deflate) o.damaged = !link.inflateInto(in.constData() + p, n, f, 1 << 20);
        else f.feed(in.constData() + p, n);
        while (!o.damaged && f.next(r)) o.replies.push_back(r);
        o.damaged = o.damaged || f.damaged();
    }
    return o;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const bool deflate = data[0] & 1;
    const size_t step = 1 + (data[0] >> 1) % 61;
    const QByteArray in(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if ((data[0] & 0x80) != 0) {
        QByteArray overview;
        if (xzverToOverview(in, &overview)) FUZZ_CHECK(overview.endsWith(".\r\n") && overview.startsWith(in.left(in.indexOf("\r\n") + 2)));
        return 0;
    }
    const Outcome whole = frame(in, size_t(in.size()) + 1, deflate), cut = frame(in, step, deflate);
    if (!deflate) {
        // Damage is seen wherever the cut falls (a deflate stream may show it only later).
        FUZZ_CHECK(whole.damaged == cut.damaged);
        FUZZ_CHECK(whole.replies.size() == cut.replies.size());
    }
    const size_t n = std::min(whole.replies.size(), cut.replies.size());
    for (size_t i = 0; i < n; ++i) {
        const Reply &a = whole.replies[i], &b = cut.replies[i];
        FUZZ_CHECK(a.data == b.data && a.code == b.code && a.multiline == b.multiline);
        FUZZ_CHECK(a.multiline ? a.data.endsWith("\r\n.\r\n") || a.data.endsWith(".\r\n") : a.data.endsWith("\r\n"));
        FUZZ_CHECK(a.data.size() <= (4 << 20));
    }
    return 0;
}
