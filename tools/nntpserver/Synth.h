#pragma once
// Synthetic newsgroups: deterministic posts generated from a seed. Shared by the test
// server and by tests that need to know what the server holds.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace synth {

enum class Kind { YencPart, UuPart, Text, PartZero, Blob };

struct Article {
    int number = 0;
    Kind kind = Kind::Text;
    int post = 0;          // index into Group::posts
    int part = 0;          // 1-based part (0 for a part 0 and for text)
    int total = 0;
    bool expired = false;  // listed in the overview, gone from the spool
    std::string subject, from, date, msgid;
    int bytes = 0, lines = 0;
};

struct Post {
    Kind kind = Kind::Text;
    std::string fileName;
    uint64_t fileSeed = 0;
    size_t fileSize = 0;
    int total = 1;
    int missingPart = 0;   // a part never posted, 0 = none
    std::string poster;
};

struct Group {
    std::string name;
    int first = 1;
    int last = 0;
    std::vector<Article> articles;     // sorted by number
    std::vector<Post> posts;
    const Article *byNumber(int n) const;
};

struct Options {
    uint64_t seed = 1;
    int partBytes = 4000;     // decoded bytes per part
    bool mixed = true;        // all kinds; false: yEnc posts only
    bool bigPosts = false;    // mostly 1,000-part posts (benchmarks)
};

// Builds a group of `count` articles numbered from `first`. take, when given, sees each
// article as it is made; those it returns true for are not kept in Group::articles (a
// server of many millions keeps only what it derived from them).
Group makeGroup(const std::string &name, int first, int count, const Options &o,
                const std::function<bool(const Article &)> &take = {});

// The decoded bytes of a post's file (deterministic from its seed and size).
std::string fileContent(const Post &p);
// The article text (headers, blank line, body), lines ending CR LF, not dot-stuffed.
std::string renderArticle(const Group &g, const Article &a, const Options &o);
// The overview line (no CR LF).
std::string overviewLine(const Article &a);

uint32_t crc32(const void *data, size_t len, uint32_t crc = 0);
std::string yencEncode(const char *data, size_t len, int lineLen = 128);

} // namespace synth
