// Subject counters and article dates: the worked examples and edge cases.
#include "headers/DateParser.h"
#include "headers/SubjectParser.h"
#include "core/Text.h"
#include <gtest/gtest.h>

using namespace vt;

TEST(SubjectParser, WorkedExamples)
{
    struct { const char *subject, *name, *total; } cases[] = {
        {"My.Pictures.rar (01/15)", "My.Pictures.rar [xx/0000015]", "15"},
        {"Holiday pics [3/10] - beach.jpg", "Holiday pics [xx/0000010]", "10"},
        {"Movie (2004) (05/12)", "Movie (2004) [xx/0000012]", "12"},
        {"a (1/2) b (2/2)", "a (1/2) b [xx/0000002]", "2"},
        {"file.jpg (1/1)", "file.jpg", "1"},
        {"Single post.jpg", "Single post.jpg", ""},
        {"(15/20)", "(no subject?) [xx/0000020]", "20"},
        {"  Post 3 - \"f.bin\" yEnc (07/12) ", "Post 3 - \"f.bin\" yEnc [xx/0000012]", "12"},
        {"x (1/2) a.jpg", "x [xx/0000002]", "2"},
        {"x (2/2) b.jpg", "x [xx/0000002]", "2"},
        {"big (1/12345)", "big [xx/0012345]", "12345"},
        {"big (1/123456)", "big (1/123456)", ""},
        {"abcd", "abcd", ""},
        {"(1/1) and (2/5)", "and (2/5)", "1"},
        {"just 9) here", "just 9) here", ""},
        // Found by fuzzing: a total of eight digits made a marker longer than 13 characters.
        {"\x08" "6)/11111196)", "\x08" "6)/11111196)", ""},
        {"\x08" "6)/-1111196)", "\x08" "6)/-1111196)", ""},
    };
    for (const auto &c : cases) {
        const ParsedSubject p = parseSubject(c.subject);
        EXPECT_EQ(trimBlanks(p.name), QByteArray(c.name)) << c.subject;
        EXPECT_EQ(p.total, QByteArray(c.total)) << c.subject;
    }
}

TEST(SubjectParser, WindowTestFailureIsLoggedAndParsingGoesOn)
{
    QStringList errors;
    const ParsedSubject p = parseSubject("(1/5) file", [&](const QString &e) { errors << e; });
    EXPECT_EQ(trimBlanks(p.name), QByteArray("(1/5) file"));
    EXPECT_TRUE(p.total.isEmpty());
    EXPECT_EQ(errors.size(), 1);
}

TEST(SubjectParser, MarkerAndRemoval)
{
    EXPECT_EQ(totalMarker(15), QByteArray(" [xx/0000015]"));
    EXPECT_EQ(totalMarker(15).size(), kMarkerLength);
    QByteArray s = "a(1/1)b(1/1)(1/(1/1)1)";
    RemoveAllOccurrences(s, "(1/1)");
    EXPECT_EQ(s, QByteArray("ab"));
    QByteArray t = "xAbCy";
    RemoveAllOccurrences(t, "abc");
    EXPECT_EQ(t, QByteArray("xy"));
}

static DateValue at(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0)
{
    return fromDateTime(QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::UTC));
}

TEST(DateParser, WorkedExamples)
{
    EXPECT_EQ(ParseArticleDate("Tue, 12 Mar 2002 10:15:00 GMT"), at(2002, 3, 12));
    EXPECT_EQ(ParseArticleDate("Tue, 12 Mar 2002 10:15:00"), at(2002, 3, 12, 10, 15));
    EXPECT_EQ(ParseArticleDate("12 Mar 2002 10:15:00 -0500"), at(2002, 3, 12));
    EXPECT_EQ(ParseArticleDate("Tuesday, 12 Mar 2002 10:15:00"), at(2002, 3, 12, 10, 15));
    EXPECT_EQ(ParseArticleDate("sun, 3 March 2024 23:59:59"), at(2024, 3, 3, 23, 59, 59));
    // The comment goes in step 8, the zone in step 9: the time stays.
    EXPECT_EQ(ParseArticleDate("Wed, 1 Jan 2003 00:00:01 +0100 (CET)"), at(2003, 1, 1, 0, 0, 1));
    EXPECT_EQ(ParseArticleDate("14 Mar 2002"), at(2002, 3, 14));
    EXPECT_EQ(ParseArticleDate("03/14/2002"), at(2002, 3, 14));
    // The usual form with a zone, in its variants, is the day at midnight; "PM" is no zone.
    EXPECT_EQ(ParseArticleDate("tue, 2 mar 2002 7:05 +0000"), at(2002, 3, 2));
    EXPECT_EQ(ParseArticleDate("02 Dec 0026 99:99:99 EST5EDT"), at(2026, 12, 2));
    EXPECT_EQ(ParseArticleDate("12 Mar 2002 10:15:00 PM"), at(2002, 3, 12, 22, 15));
    EXPECT_EQ(ParseArticleDate("Mon, 07 Dec 2026 01: 0"), at(2026, 12, 7, 1, 0)) << "digits after the blank join the time";
    EXPECT_EQ(ParseArticleDate("Xyz, 12 Mar 2002 10:15:00 GMT"), at(2002, 3, 12));
    const DateValue before = dateValueNow();
    EXPECT_GE(ParseArticleDate("Fri, 31 Feb 2002 10:15:00 GMT"), before) << "no such day: now";
    const DateValue v = ParseArticleDate("");
    EXPECT_GE(v, before);
    EXPECT_LE(v, dateValueNow());
}

TEST(DateParser, Recogniser)
{
    EXPECT_TRUE(recogniseDate("12 Mar 2002").has_value());
    EXPECT_TRUE(recogniseDate("12 march 2002 1:02:03").has_value());
    EXPECT_TRUE(recogniseDate("Mar 12, 2002").has_value());
    EXPECT_TRUE(recogniseDate("2002-03-12").has_value());
    EXPECT_TRUE(recogniseDate("10:15:00").has_value());
    EXPECT_TRUE(recogniseDate("Tue, 12 Mar 2002").has_value()) << "a weekday in front is harmless";
    EXPECT_FALSE(recogniseDate("12 Mar 2002 10:15:00 GMT").has_value());
    EXPECT_FALSE(recogniseDate("31 Feb 2002").has_value());
    EXPECT_FALSE(recogniseDate("").has_value());
    EXPECT_EQ(*recogniseDate("10:15:00"), at(1899, 12, 30, 10, 15));
    // "WENESDAY, " is what the long-name step removes; the right spelling is taken by
    // the recogniser itself.
    EXPECT_EQ(ParseArticleDate("Wenesday, 13 Mar 2002 10:15:00"), at(2002, 3, 13, 10, 15));
    EXPECT_EQ(ParseArticleDate("Wednesday, 13 Mar 2002 10:15:00"), at(2002, 3, 13, 10, 15));
    EXPECT_EQ(ParseArticleDate("Wednesday, 13 Mar 2002 10:15:00 GMT"), at(2002, 3, 13));
}

#include "SubjectOracle.h"
#include <random>

// The one-pass parser against the rule read step by step, on subjects built from the
// pieces that matter: counters of both kinds, digits, blanks, slashes, repeats.
TEST(SubjectParser, AgreesWithTheLiteralRule)
{
    std::mt19937 rng(21);
    const char *pieces[] = {"(", ")", "[", "]", "/", " ", "1", "2", "5", "0", "9", "x", "ab", "(1/1)", "(01/15)", "[3/10]",
                            "(2004)", ".rar", "yEnc", "\"", "-", "(15/20)", "12)", "3]", "  "};
    int counted = 0;
    for (int i = 0; i < 200000; ++i) {
        QByteArray s;
        const int n = 1 + int(rng() % 12);
        for (int k = 0; k < n; ++k) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        int e1 = 0, e2 = 0;
        const ParsedSubject a = parseSubject(s, [&](const QString &) { ++e1; });
        const ParsedSubject b = oracle::parseSubjectLiteral(s, [&](const QString &) { ++e2; });
        ASSERT_EQ(trimBlanks(a.name), trimBlanks(b.name)) << s.constData();
        ASSERT_EQ(a.total, b.total) << s.constData();
        ASSERT_EQ(e1 > 0, e2 > 0) << s.constData();
        counted += !a.total.isEmpty();
    }
    EXPECT_GT(counted, 10000);
}
