// Reply framing: however the stream is cut, the same replies come out; each is a prefix of
// what is left, ends where its kind says, and nothing is lost or invented. Each multi-line
// reply then goes through what the download does with an article: the quick corruption
// check agrees with the plain rule, and stripping never makes it longer.
#include "FuzzSupport.h"
#include "download/ArticleText.h"
#include "nntp/ReplyFramer.h"
#include <vector>

using namespace vt;

static std::vector<Reply> frame(const QByteArray &in, size_t step)
{
    ReplyFramer f;
    std::vector<Reply> out;
    Reply r;
    for (qsizetype p = 0; p < in.size(); p += qsizetype(step)) {
        f.feed(in.constData() + p, std::min<qsizetype>(qsizetype(step), in.size() - p));
        while (f.next(r)) out.push_back(r);
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const size_t step = 1 + data[0] % 61;
    const QByteArray in(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const std::vector<Reply> whole = frame(in, size_t(in.size()) + 1), cut = frame(in, step);
    FUZZ_CHECK(whole.size() == cut.size());
    qsizetype at = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        const Reply &a = whole[i], &b = cut[i];
        FUZZ_CHECK(a.data == b.data && a.multiline == b.multiline && a.code == b.code);
        FUZZ_CHECK(in.mid(at, a.data.size()) == a.data);
        FUZZ_CHECK(a.multiline ? a.data.endsWith("\r\n.\r\n") : a.data.endsWith("\r\n"));
        FUZZ_CHECK(a.multiline == ReplyFramer::isMultilineCode(a.code));
        if (a.multiline) {
            // An id taken from the reply itself (in the header, the body, or across both),
            // and one that is nowhere.
            const qsizetype from = qsizetype(data[0]) % a.data.size(), len = 1 + qsizetype(data[size - 1]) % 24;
            for (const QByteArray &id : {a.data.mid(from, len), QByteArray("<nowhere@x>")})
                FUZZ_CHECK(IsCorruptArticle(a.data, id) == (a.data.contains("\r\n220 0") || !a.data.contains(id)));
            FUZZ_CHECK(StripArticle(a.data).size() <= a.data.size());
        }
        at += a.data.size();
    }
    FUZZ_CHECK(at <= in.size());
    return 0;
}
