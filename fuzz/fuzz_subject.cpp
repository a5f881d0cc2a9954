// Subjects (FUZZ_SUBJECT) and dates (FUZZ_DATE) from outside: the subject parser's name
// stays within the subject plus its marker, a counted name ends in a well-formed marker,
// parsing is repeatable, and the From reduction never grows; any date text gives a date or
// the fallback, the same each time.
#include "FuzzSupport.h"
#include "headers/DateParser.h"
#include "scan/ScanDriver.h"
#include "core/Text.h"
#include "headers/SubjectParser.h"
#include <algorithm>

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
#ifdef FUZZ_SUBJECT
    const ParsedSubject a = parseSubject(text), b = parseSubject(text);
    FUZZ_CHECK(a.name == b.name && a.total == b.total && a.fullSubject == b.fullSubject);
    // At most the subject, or its stand-in when nothing is left of it, and the marker.
    FUZZ_CHECK(a.name.size() <= std::max<qsizetype>(text.size(), 13) + kMarkerLength);
    const qint64 total = leadingInt(a.total);
    // A counted name ends in its marker; "(1/1)" posts are whole and carry none.
    if (!a.total.isEmpty() && total >= 0 && total <= 9999999 && !text.contains("(1/1)")) {
        const QByteArray m = a.name.right(kMarkerLength);
        FUZZ_CHECK(m.startsWith(" [xx/") && m.endsWith(']'));
        for (qsizetype i = 5; i < 12; ++i) FUZZ_CHECK(m[i] >= '0' && m[i] <= '9');
    }
    const QByteArray poster = parseFrom(text);
    FUZZ_CHECK(poster.size() <= text.size());
#else
    const DateValue d1 = ParseArticleDate(text), d2 = ParseArticleDate(text);
    FUZZ_CHECK(d1 == d2 || std::llabs(d1 - d2) <= 2);   // text that names no date falls back to now
    if (const auto r = recogniseDate(text)) FUZZ_CHECK(*r == d1);
#endif
    return 0;
}
