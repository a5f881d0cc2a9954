#include "Synth.h"
#include <zlib.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace synth {

namespace {
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) { next(); }
    uint64_t next()
    {
        s ^= s << 13; s ^= s >> 7; s ^= s << 17;
        return s;
    }
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    bool chance(int percent) { return int(next() % 100) < percent; }
};

const char *kPosters[] = {"Jane <jane@example.com>", "\"Bob Poster\" <bob@example.net>",
                          "uploader@example.org (Upper Loader)", "<anon1234@example.com>", "ab@example.com"};
const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string pad2(int v, int width)
{
    char b[16];
    snprintf(b, sizeof b, "%0*d", width, v);
    return b;
}

size_t uuLen(size_t n) { return (n + 44) / 45 * 62 + 30; }
} // namespace

const Article *Group::byNumber(int n) const
{
    auto it = std::lower_bound(articles.begin(), articles.end(), n,
                               [](const Article &a, int v) { return a.number < v; });
    return (it != articles.end() && it->number == n) ? &*it : nullptr;
}

uint32_t crc32(const void *data, size_t len, uint32_t crc)
{
    return uint32_t(::crc32_z(crc, static_cast<const Bytef *>(data), len));
}

std::string yencEncode(const char *data, size_t len, int lineLen)
{
    // Written through a pointer: the server encodes every article it sends.
    std::string out(len * 2 + (len / size_t(std::max(lineLen, 1)) + 2) * 2 + 16, '\0');
    char *w = out.data();
    int col = 0;
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = (unsigned char)(data[i] + 42);
        if (c == 0 || c == '\n' || c == '\r' || c == '=') {
            *w++ = '=';
            c = (unsigned char)(c + 64);
            ++col;
        }
        *w++ = char(c);
        if (++col >= lineLen) {
            *w++ = '\r';
            *w++ = '\n';
            col = 0;
        }
    }
    if (col) {
        *w++ = '\r';
        *w++ = '\n';
    }
    out.resize(size_t(w - out.data()));
    return out;
}

std::string fileContent(const Post &p)
{
    std::string s(p.fileSize, '\0');
    Rng r(p.fileSeed);
    for (size_t i = 0; i < s.size(); i += 8) {
        uint64_t v = r.next();
        memcpy(&s[i], &v, std::min<size_t>(8, s.size() - i));
    }
    return s;
}

Group makeGroup(const std::string &name, int first, int count, const Options &o, const std::function<bool(const Article &)> &take)
{
    Group g;
    g.name = name;
    g.first = first;
    Rng r(o.seed ^ std::hash<std::string>{}(name));
    int number = first;
    int postNo = 0, made = 0;
    while (made < count) {
        Post p;
        const int roll = r.range(0, 99);
        if (o.bigPosts) p.kind = roll < 90 ? Kind::YencPart : Kind::Text;
        else if (!o.mixed) p.kind = Kind::YencPart;
        else p.kind = roll < 55 ? Kind::YencPart : roll < 75 ? Kind::UuPart : Kind::Text;
        p.poster = kPosters[r.range(0, 4)];
        p.fileSeed = r.next();
        const int total = p.kind == Kind::Text ? 1
                          : o.bigPosts      ? (r.chance(50) ? 1000 : r.range(1, 40))
                                            : r.range(1, 12);
        p.total = total;
        p.fileSize = size_t(o.partBytes) * size_t(total) - size_t(r.range(0, o.partBytes / 2));
        if (p.kind == Kind::UuPart) p.fileSize = std::max<size_t>(p.fileSize, 100);
        const std::string ext = p.kind == Kind::UuPart ? ".jpg" : ".bin";
        p.fileName = "file" + std::to_string(postNo) + "_" + std::to_string(r.next() % 100000) + ext;
        if (o.mixed && total > 3 && r.chance(15)) p.missingPart = r.range(2, total - 1);
        const bool partZero = o.mixed && p.kind == Kind::YencPart && total > 1 && r.chance(10);
        g.posts.push_back(p);

        const int day = r.range(1, 28), mon = r.range(0, 11), hour = r.range(0, 23);
        const std::string date = std::string(kDays[r.range(0, 6)]) + ", " + std::to_string(day) + " " + kMonths[mon]
                                 + " 2026 " + pad2(hour, 2) + ":" + pad2(r.range(0, 59), 2) + ":00 GMT";
        const int width = total >= 100 ? 3 : total >= 10 ? 2 : 1;
        for (int k = partZero ? 0 : 1; k <= total && made < count; ++k) {
            if (k == p.missingPart) continue;
            Article a;
            a.number = number++;
            a.post = postNo;
            a.part = k;
            a.total = total;
            a.kind = k == 0 ? Kind::PartZero : p.kind;
            a.from = p.poster;
            a.date = date;
            a.msgid = "<" + std::to_string(o.seed) + "." + name + "." + std::to_string(postNo) + "." + std::to_string(k)
                      + "@synth.vantrel>";
            const std::string counter = "(" + pad2(k, width) + "/" + pad2(total, width) + ")";
            if (p.kind == Kind::Text) a.subject = "Discussion thread " + std::to_string(postNo);
            else if (p.kind == Kind::UuPart) a.subject = p.fileName + " " + counter;
            else a.subject = "Post " + std::to_string(postNo) + " - \"" + p.fileName + "\" yEnc " + counter;
            const size_t partLen = std::min<size_t>(size_t(o.partBytes), p.fileSize - std::min(p.fileSize, size_t(std::max(0, k - 1)) * o.partBytes));
            a.bytes = int(k == 0 || p.kind == Kind::Text ? 600 : p.kind == Kind::UuPart ? uuLen(partLen) + 400 : partLen * 102 / 100 + 500);
            a.lines = a.bytes / 128 + 10;
            a.expired = o.mixed && r.chance(3);
            ++made;
            if (!take || !take(a)) g.articles.push_back(std::move(a));
        }
        ++postNo;
    }
    // Some servers skip numbers: leave a gap now and then (before the last article).
    g.last = number - 1;
    return g;
}

std::string overviewLine(const Article &a)
{
    std::string l;
    l.reserve(a.subject.size() + a.from.size() + a.date.size() + a.msgid.size() + 40);
    l += std::to_string(a.number); l += '\t';
    l += a.subject; l += '\t';
    l += a.from; l += '\t';
    l += a.date; l += '\t';
    l += a.msgid; l += '\t';
    l += '\t';
    l += std::to_string(a.bytes); l += '\t';
    l += std::to_string(a.lines);
    return l;
}

static std::string uuencodeLines(const char *data, size_t len)
{
    auto enc = [](int c) { return char(c ? (c & 63) + 32 : '`'); };
    std::string out;
    for (size_t i = 0; i < len; i += 45) {
        const size_t n = std::min<size_t>(45, len - i);
        out += enc(int(n));
        for (size_t j = 0; j < n; j += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && i + j + k < len && j + k < n; ++k) b[k] = (unsigned char)data[i + j + k];
            out += enc(b[0] >> 2);
            out += enc(((b[0] << 4) | (b[1] >> 4)) & 63);
            out += enc(((b[1] << 2) | (b[2] >> 6)) & 63);
            out += enc(b[2] & 63);
        }
        out += "\r\n";
    }
    return out;
}

std::string renderArticle(const Group &g, const Article &a, const Options &o)
{
    std::string s;
    s += "Path: synth.vantrel!not-for-mail\r\n";
    s += "From: " + a.from + "\r\n";
    s += "Newsgroups: " + g.name + "\r\n";
    s += "Subject: " + a.subject + "\r\n";
    s += "Date: " + a.date + "\r\n";
    s += "Message-ID: " + a.msgid + "\r\n";
    s += "\r\n";
    const Post &p = g.posts[size_t(a.post)];
    if (a.kind == Kind::Text || a.kind == Kind::PartZero) {
        s += "This is a text article about " + p.fileName + ".\r\n";
        s += ".A line that starts with a dot, to be stuffed.\r\n";
        s += "..and one with two.\r\n";
        s += "211 a body line that looks like a group reply\r\n";
        s += "\r\nRegards\r\n";
        return s;
    }
    // The parts of one post come one after another: keep its file between them.
    thread_local std::string file;
    thread_local uint64_t fileSeed = 0;
    thread_local size_t fileSize = size_t(-1);
    if (fileSeed != p.fileSeed || fileSize != p.fileSize) {
        file = fileContent(p);
        fileSeed = p.fileSeed;
        fileSize = p.fileSize;
    }
    const size_t begin = size_t(a.part - 1) * size_t(o.partBytes);
    const size_t end = std::min(file.size(), begin + size_t(o.partBytes));
    if (a.kind == Kind::YencPart) {
        char head[512];
        if (p.total > 1) {
            snprintf(head, sizeof head, "=ybegin part=%d total=%d line=128 size=%zu name=%s\r\n=ypart begin=%zu end=%zu\r\n",
                     a.part, p.total, file.size(), p.fileName.c_str(), begin + 1, end);
        } else {
            snprintf(head, sizeof head, "=ybegin line=128 size=%zu name=%s\r\n", file.size(), p.fileName.c_str());
        }
        s += head;
        s += yencEncode(file.data() + begin, end - begin);
        char tail[256];
        const uint32_t pcrc = crc32(file.data() + begin, end - begin);
        if (p.total > 1) {
            if (a.part == p.total)
                snprintf(tail, sizeof tail, "=yend size=%zu part=%d pcrc32=%08x crc32=%08x\r\n", end - begin, a.part, pcrc,
                         crc32(file.data(), file.size()));
            else
                snprintf(tail, sizeof tail, "=yend size=%zu part=%d pcrc32=%08x\r\n", end - begin, a.part, pcrc);
        } else {
            snprintf(tail, sizeof tail, "=yend size=%zu crc32=%08x\r\n", end - begin, pcrc);
        }
        s += tail;
    } else {
        // Multi-part uuencode: the begin line opens part 1, the end line closes the last.
        if (a.part == 1) s += "begin 644 " + p.fileName + "\r\n";
        s += uuencodeLines(file.data() + begin, end - begin);
        if (a.part == p.total) s += "`\r\nend\r\n";
    }
    return s;
}

} // namespace synth
