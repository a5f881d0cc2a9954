// vantrel-nntpd: a local NNTP server of synthetic binary groups, for tests, benchmarks
// and the demo. Prints "PORT <n>" on stdout once it listens on 127.0.0.1.
//
//   --port N                 0 = any free port (default)
//   --seed S                 content seed
//   --group NAME:FIRST:COUNT[:LAST]  repeatable; LAST: the last number GROUP reports, when
//                            the articles up to it are gone (cancelled or expired)
//   --part-bytes N           decoded bytes per binary part
//   --yenc-only, --big-posts content mix
//   --blob-bytes N           an article <blob@synth.vantrel> of about N bytes
//   --list-extra N           N more groups in LIST
//   --list-line TEXT         one more LIST line as given (repeatable)
//   --greeting TEXT          the first line sent (default a 200 greeting)
//   --tls CERT:KEY           every connection over TLS with this certificate and key (PEM)
//   --auth USER:PASS         credentials; --require-auth: needed from the start
//   --segment                cut every reply into small pieces at random points
//   --fault 'VERB[ ARG]=ACTION[@N]'  ACTION: a reply code (a multi-line one with a short
//                            body), drop, stall, cut or twice (an article sent as two
//                            responses run together), flood (a reply that never ends, as
//                            fast as it is read) or trickle (one that never ends, a byte
//                            every half second); 'GROUP NAME=411': a group not carried;
//                            @N: only the N-th such command (process-wide), default every
//   --prerender              render every article at start-up (benchmarks; ARTICLE and BODY)
//   --log FILE               write every command received, as "<connection> <line>"
//   --mode-reader 401|500    start every connection in transit mode: reader commands get
//                            "401 MODE-READER" (or, as older servers, "500 What?") until
//                            MODE READER is sent
//   --capabilities           answer CAPABILITIES (otherwise 500, as old servers do)
//   --past-end 224|420|423   answer to XOVER for a range that holds no article (beyond the
//                            group's end, or a gap): an empty overview (default), 420 or 423
//   --scoped-ids             ARTICLE <id> finds an --article-dir article only in its own
//                            group, once selected (as servers with per-group access do)
//   --compress               offer COMPRESS DEFLATE (RFC 8054): after 206 both directions
//                            are raw deflate, flushed after each reply
//   --xfeature-gzip          offer XFEATURE COMPRESS GZIP: after 290, overviews come as
//                            "224 ... [COMPRESS=GZIP]", a zlib stream and then "." CR LF
//                            (with TERMINATOR: the "." CR LF inside the stream)
//   --xzver                  answer XZVER: the overview raw-deflated, then yEnc-encoded
//   --overview-only          keep only what GROUP and the overview commands need; articles
//                            are not served (benchmarks of many millions of headers, so
//                            that this server's memory does not crowd the reader's)
//   --precompress            compress the overviews at start-up, in blocks of 1,000 articles
//                            (benchmarks: a range on block edges goes out as stored, so the
//                            cores measure the reader, not the compression here)
//   --compress-damage N      with any of them: the first reply that starts after N compressed
//                            bytes (process-wide) is sent damaged, once
//   --latency MS             answer each command no sooner than MS after it arrived
//   --rate BYTES/S           send at most this many bytes a second on each connection
//   --max-connections N      more connections at once are greeted with 502 and closed
//   --article-dir DIR[@GROUP] also serve articles from files DIR/<n>.art (message-id from
//                            their Message-ID header, number = n, group = GROUP or the
//                            first --group; repeatable;
//                            DIR/<n>.head, if there, gives the overview's headers instead)
#include "Synth.h"
#include <zlib.h>
#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct Fault {
    std::string verb, arg, action;
    int nth = 0;              // 0 = every time
    std::atomic<int> seen{0};
};

struct ServedGroup {
    synth::Group g;
    std::string overview;                 // all overview lines, CR LF each
    std::vector<size_t> offsets;          // start of each line, one past the end last
    std::vector<int> numbers;             // each line's article number
    std::map<int, std::string> extraArticles;   // from --article-dir: number -> text
    std::map<int, std::string> extraOverview;
    // --precompress: each block's overview as raw deflate from a fresh stream, ended by a
    // sync flush (so blocks join into one stream), with its plain length and Adler-32.
    std::vector<std::string> packed;
    std::vector<uLong> adler;
    std::vector<size_t> plainBytes;
    static constexpr size_t kBlock = 1000;
    // The stored blocks of articles [a, b) joined, when both ends lie on block edges.
    bool packedRange(size_t a, size_t b, std::string *z, uLong *adl) const
    {
        if (packed.empty() || a >= b || a % kBlock || (b % kBlock && b != numbers.size())) return false;
        *adl = adler32(0, nullptr, 0);
        for (size_t k = a / kBlock; k * kBlock < b; ++k) {
            *z += packed[k];
            *adl = adler32_combine(*adl, adler[k], z_off_t(plainBytes[k]));
        }
        return true;
    }
};

struct Config {
    int port = 0;
    synth::Options opt;
    std::vector<ServedGroup> groups;
    size_t blobBytes = 0;
    std::string blob;
    int listExtra = 0;
    std::vector<std::string> listLines;   // --list-line
    std::string greeting = "200 vantrel-nntpd ready (posting not allowed)";
    SSL_CTX *tls = nullptr;   // --tls
    std::string user, pass;
    bool requireAuth = false;
    bool segment = false;
    std::vector<std::unique_ptr<Fault>> faults;
    std::unordered_map<std::string, std::pair<int, int>> byMsgid;  // msgid -> group index, number
    std::unordered_map<std::string, std::string> extraById;        // from --article-dir
    std::unordered_map<std::string, int> extraGroupById;           // its group's index
    bool scopedIds = false;                                         // --scoped-ids
    FILE *log = nullptr;                                            // --log: commands received
    int modeReader = 0;          // --mode-reader: the refusal's code
    bool capabilities = false;   // --capabilities
    int pastEnd = 224;           // --past-end
    int latencyMs = 0;           // --latency
    double rate = 0;             // --rate, bytes a second
    int maxConnections = 0;      // --max-connections, 0 = any number
    bool compress = false;       // --compress
    bool xfeatureGzip = false;   // --xfeature-gzip
    bool xzver = false;          // --xzver
    long long damageAt = -1;     // --compress-damage
    bool precompress = false;    // --precompress
};

Config cfg;

std::mutex cacheMutex;
std::mutex logMutex;
std::atomic<int> connCounter{0};
std::atomic<int> connsOpen{0};
std::atomic<long long> compressedOut{0};
std::atomic<bool> damaged{false};
std::unordered_map<std::string, std::string> articleCache;
// --prerender: every article's dot-stuffed body and terminator, made at start-up, so that
// a benchmark measures the reader and not the encoding here.
std::unordered_map<std::string, std::string> prerendered;

std::string dotStuff(const std::string &body);

class Conn {
public:
    explicit Conn(int fd) : fd_(fd), id_(++connCounter), rng_(uint32_t(fd) * 2654435761u ^ uint32_t(time(nullptr))) {}
    ~Conn()
    {
        if (deflating_) {
            deflateEnd(&def_);
            inflateEnd(&inf_);
        }
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        ::close(fd_);
    }
    // With --tls: the handshake first; a client that does not speak TLS is dropped.
    bool startTls()
    {
        if (!cfg.tls) return true;
        ssl_ = SSL_new(cfg.tls);
        SSL_set_fd(ssl_, fd_);
        return SSL_accept(ssl_) == 1;
    }

    bool sendAll(const char *p, size_t n)
    {
        if (deflating_) {
            // Deflated and flushed, then out as any bytes go (paced, segmented).
            std::string z;
            def_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(p));
            def_.avail_in = uInt(n);
            do {
                char buf[65536];
                def_.next_out = reinterpret_cast<Bytef *>(buf);
                def_.avail_out = sizeof buf;
                // A full flush keeps no history, so stored blocks can go in between.
                deflate(&def_, cfg.precompress ? Z_FULL_FLUSH : Z_SYNC_FLUSH);
                z.append(buf, sizeof buf - def_.avail_out);
            } while (def_.avail_out == 0);
            // Damage as a reader can see it (raw deflate has no checksum): a block of the
            // reserved type where this reply's output starts, after the last flush.
            const long long before = compressedOut.fetch_add((long long)z.size());
            if (cfg.damageAt >= 0 && before >= cfg.damageAt && !damaged.exchange(true)) z.insert(0, 1, '\x06');
            return rawSend(z.data(), z.size());
        }
        return rawSend(p, n);
    }
    // Already deflated text, joined into the connection's stream as it stands.
    bool sendDeflated(std::string z)
    {
        const long long before = compressedOut.fetch_add((long long)z.size());
        if (cfg.damageAt >= 0 && before >= cfg.damageAt && !damaged.exchange(true)) z.insert(0, 1, '\x06');
        return rawSend(z.data(), z.size());
    }
    bool rawSend(const char *p, size_t n)
    {
        if (cfg.segment) return sendSegmented(p, n);
        while (n) {
            const size_t k = cfg.rate > 0 ? std::min<size_t>(n, 16384) : n;
            pace(k);
            noteArrivals();
            ssize_t w = out(p, k);
            if (w <= 0) return false;
            p += w;
            n -= size_t(w);
        }
        return true;
    }
    bool send(const std::string &s) { return sendAll(s.data(), s.size()); }

    bool readLine(std::string &line)
    {
        for (;;) {
            size_t e = in_.find('\n');
            if (e != std::string::npos) {
                line = in_.substr(0, e);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                in_.erase(0, e + 1);
                consumed_ += e + 1;
                // The line arrived with the read that brought its last byte.
                while (!arrivals_.empty() && arrivals_.front().first < consumed_) arrivals_.erase(arrivals_.begin());
                lineArrived_ = arrivals_.empty() ? Clock::now() : arrivals_.front().second;
                return true;
            }
            char buf[4096];
            ssize_t r = ssl_ ? SSL_read(ssl_, buf, int(sizeof buf)) : ::recv(fd_, buf, sizeof buf, 0);
            if (r <= 0 || !takeIn(buf, size_t(r))) return false;
        }
    }

    // Commands sent ahead arrive while a reply goes out: their arrival is noted as it
    // happens (plain connections), so that --latency counts from then, as on a far link.
    void noteArrivals()
    {
        if (ssl_ || cfg.latencyMs <= 0) return;
        char buf[4096];
        for (;;) {
            const ssize_t r = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (r <= 0 || !takeIn(buf, size_t(r))) return;
        }
    }

    // --latency: a reply leaves no sooner than the delay after its command arrived, so
    // commands sent ahead (pipelined) wait less, as they would on a far link.
    void awaitLatency()
    {
        if (cfg.latencyMs > 0) std::this_thread::sleep_until(lineArrived_ + std::chrono::milliseconds(cfg.latencyMs));
    }

    void serve();

private:
    // What the client sent, inflated once COMPRESS DEFLATE is on.
    bool takeIn(const char *buf, size_t n)
    {
        const size_t before = in_.size();
        if (!deflating_) {
            in_.append(buf, n);
        } else {
            inf_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(buf));
            inf_.avail_in = uInt(n);
            while (inf_.avail_in > 0) {
                char out[16384];
                inf_.next_out = reinterpret_cast<Bytef *>(out);
                inf_.avail_out = sizeof out;
                const int z = inflate(&inf_, Z_SYNC_FLUSH);
                if (z != Z_OK && z != Z_BUF_ERROR) return false;
                in_.append(out, sizeof out - inf_.avail_out);
                if (z == Z_BUF_ERROR) break;
            }
        }
        received_ += in_.size() - before;
        arrivals_.emplace_back(received_, Clock::now());
        return true;
    }
    bool startCompression()
    {
        if (!send("206 Compression active\r\n")) return false;
        def_ = {};
        inf_ = {};
        deflateInit2(&def_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        inflateInit2(&inf_, -15);
        deflating_ = true;
        return true;
    }
    z_stream def_{}, inf_{};
    bool deflating_ = false;
    bool gzip_ = false, gzipInside_ = false;   // XFEATURE COMPRESS GZIP [TERMINATOR]
    // An overview body compressed as XFEATURE COMPRESS GZIP has it.
    bool sendGzip(const std::string &body, const ServedGroup *sg = nullptr, size_t a = 0, size_t b = 0)
    {
        std::string z;
        uLong adl = 0;
        if (!gzipInside_ && sg && sg->packedRange(a, b, &z, &adl)) {
            // A zlib stream around the stored blocks: header, an empty last block, checksum.
            z.insert(0, "\x78\x9c", 2);
            z += std::string("\x03\x00", 2);
            for (int k = 3; k >= 0; --k) z += char((adl >> (8 * k)) & 0xff);
        } else {
            std::string plain = body;
            if (gzipInside_) plain += ".\r\n";
            uLongf n = compressBound(uLong(plain.size()));
            z.assign(n, '\0');
            compress2(reinterpret_cast<Bytef *>(z.data()), &n, reinterpret_cast<const Bytef *>(plain.data()), uLong(plain.size()), 6);
            z.resize(n);
        }
        const long long before = compressedOut.fetch_add((long long)z.size());
        if (cfg.damageAt >= 0 && before >= cfg.damageAt && z.size() > 8 && !damaged.exchange(true)) z[z.size() / 2] ^= 0x55;
        return send("224 overview information follows [COMPRESS=GZIP]\r\n" + z + (gzipInside_ ? "" : ".\r\n"));
    }
    // An overview as XZVER has it: raw deflate, then yEnc with its size and CRC.
    bool sendXzver(const std::string &body, const ServedGroup *sg = nullptr, size_t a = 0, size_t b = 0)
    {
        std::string packed;
        uLong adl = 0;
        if (sg && sg->packedRange(a, b, &packed, &adl)) {
            packed += std::string("\x03\x00", 2);   // an empty last block ends the stream
        } else {
            z_stream z{};
            deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            packed.assign(deflateBound(&z, uLong(body.size())), '\0');
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.data()));
            z.avail_in = uInt(body.size());
            z.next_out = reinterpret_cast<Bytef *>(packed.data());
            z.avail_out = uInt(packed.size());
            deflate(&z, Z_FINISH);
            packed.resize(z.total_out);
            deflateEnd(&z);
        }
        const uint32_t crc = synth::crc32(packed.data(), packed.size());
        std::string enc = synth::yencEncode(packed.data(), packed.size());
        const long long before = compressedOut.fetch_add((long long)enc.size());
        if (cfg.damageAt >= 0 && before >= cfg.damageAt && enc.size() > 8 && !damaged.exchange(true))
            enc[enc.size() / 2] = char(enc[enc.size() / 2] == 'a' ? 'b' : 'a');
        char trailer[96];
        snprintf(trailer, sizeof trailer, "=yend size=%zu crc32=%08x\r\n", packed.size(), crc);
        return sendMultiline("224 compressed data follows",
                             dotStuff("=ybegin line=128 size=" + std::to_string(packed.size()) + " name=xzver\r\n" + enc + trailer));
    }
    using Clock = std::chrono::steady_clock;
    // --rate: each piece leaves when the link would have carried it; idle time earns no
    // credit, so no reply ever goes faster than the rate.
    void pace(size_t k)
    {
        if (cfg.rate <= 0) return;
        const auto now = Clock::now();
        if (rateBytes_ == 0 || now > rateAt_) {
            rateStart_ = now;
            rateBytes_ = 0;
        }
        rateBytes_ += k;
        rateAt_ = rateStart_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(rateBytes_) / cfg.rate));
        std::this_thread::sleep_until(rateAt_);
    }
    ssize_t out(const char *p, size_t n)
    {
        if (ssl_) return SSL_write(ssl_, p, int(std::min<size_t>(n, 1 << 30)));
        return ::send(fd_, p, n, MSG_NOSIGNAL);
    }
    SSL *ssl_ = nullptr;
    bool sendSegmented(const char *p, size_t n)
    {
        std::uniform_int_distribution<int> len(1, 48), pause(0, 3);
        while (n) {
            size_t k = std::min<size_t>(n, size_t(len(rng_)));
            size_t done = 0;
            while (done < k) {
                ssize_t w = out(p + done, k - done);
                if (w <= 0) return false;
                done += size_t(w);
            }
            p += k;
            n -= k;
            if (pause(rng_) == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return true;
    }
    bool sendMultiline(const std::string &status, const std::string &body);
    // What of an article a command asks for: ARTICLE, HEAD, BODY or STAT.
    enum class Part { Whole, Head, Body, Stat };
    bool article(const std::string &arg, Part part);
    Fault *faultFor(const std::string &verb, const std::string &arg);

    int fd_;
    int id_;
    std::string in_;
    std::mt19937 rng_;
    int group_ = -1;
    int current_ = 0;
    bool authed_ = false;
    std::string pendingUser_;
    bool mustAuth_ = cfg.requireAuth;
    bool twice_ = false;
    bool readerMode_ = !cfg.modeReader;
    size_t received_ = 0, consumed_ = 0;
    std::vector<std::pair<size_t, Clock::time_point>> arrivals_;
    Clock::time_point lineArrived_ = Clock::now();
    Clock::time_point rateStart_ = Clock::now(), rateAt_ = Clock::now();
    size_t rateBytes_ = 0;
};

std::string upper(std::string s)
{
    for (char &c : s) c = char(toupper((unsigned char)c));
    return s;
}

std::string dotStuff(const std::string &body)
{
    std::string out;
    out.reserve(body.size() + body.size() / 64 + 8);
    bool bol = true;
    for (char c : body) {
        if (bol && c == '.') out += '.';
        out += c;
        bol = c == '\n';
    }
    return out;
}

bool Conn::sendMultiline(const std::string &status, const std::string &body)
{
    std::string out = status + "\r\n";
    out += body;
    out += ".\r\n";
    return send(out);
}

Fault *Conn::faultFor(const std::string &verb, const std::string &arg)
{
    for (auto &f : cfg.faults) {
        if (f->verb != verb) continue;
        if (!f->arg.empty() && f->arg != arg) continue;
        const int n = ++f->seen;
        if (f->nth == 0 || f->nth == n) return f.get();
    }
    return nullptr;
}

const char *cannedText(int code)
{
    switch (code) {
    case 400: return "400 service temporarily unavailable";
    case 411: return "411 no such newsgroup";
    case 412: return "412 no newsgroup selected";
    case 420: return "420 no current article";
    case 421: return "421 group gone";
    case 423: return "423 no such article number in this group";
    case 430: return "430 no such article";
    case 480: return "480 authentication required";
    case 500: return "500 command not recognized";
    case 501: return "501 command syntax error";
    case 502: return "502 permission denied";
    case 503: return "503 program fault";
    default: return nullptr;
    }
}

bool Conn::article(const std::string &arg, Part part)
{
    const bool headOnly = part == Part::Head;
    std::string text, id;
    int number = 0;
    bool extra = false;   // from --article-dir, possibly empty
    if (!arg.empty() && arg[0] == '<') {
        id = arg;
        if (id == "<blob@synth.vantrel>" && !cfg.blob.empty()) {
            return send("220 0 " + id + "\r\n") && sendAll(cfg.blob.data(), cfg.blob.size());
        }
        auto ex = cfg.extraById.find(id);
        if (ex != cfg.extraById.end() && cfg.scopedIds && cfg.extraGroupById[id] != group_)
            return send("430 no such article\r\n");
        if (ex != cfg.extraById.end()) {
            text = ex->second;
            extra = true;
        } else {
            auto it = cfg.byMsgid.find(id);
            if (it == cfg.byMsgid.end()) return send("430 no such article\r\n");
            const ServedGroup &sg = cfg.groups[size_t(it->second.first)];
            const synth::Article *a = sg.g.byNumber(it->second.second);
            if (!a || a->expired) return send("430 no such article\r\n");
            number = a->number;
        }
    } else {
        if (group_ < 0) return send("412 no newsgroup selected\r\n");
        number = arg.empty() ? current_ : atoi(arg.c_str());
        const ServedGroup &sg = cfg.groups[size_t(group_)];
        auto ex = sg.extraArticles.find(number);
        if (ex != sg.extraArticles.end()) {
            text = ex->second;
            extra = true;
        } else {
            const synth::Article *a = sg.g.byNumber(number);
            if (!a || a->expired) return send("423 no such article number in this group\r\n");
            id = a->msgid;
        }
        current_ = number;
    }
    if (part == Part::Stat) return send("223 " + std::to_string(number) + " " + (id.empty() ? "<x>" : id) + "\r\n");
    if (!extra && (part == Part::Whole || part == Part::Body) && !twice_) {
        auto pr = prerendered.find(id);
        if (pr != prerendered.end()) {
            // BODY is the same text from the blank line on: peers ask for that.
            const std::string &t = pr->second;
            const size_t from = part == Part::Body ? t.find("\r\n\r\n") + 4 : 0;
            return send((part == Part::Body ? "222 " : "220 ") + std::to_string(number) + " " + id + "\r\n")
                   && sendAll(t.data() + from, t.size() - from);
        }
    }
    if (!extra) {
        std::lock_guard<std::mutex> lk(cacheMutex);
        auto c = articleCache.find(id);
        if (c != articleCache.end()) {
            text = c->second;
        } else {
            auto it = cfg.byMsgid.find(id);
            const ServedGroup &sg = cfg.groups[size_t(it->second.first)];
            text = synth::renderArticle(sg.g, *sg.g.byNumber(it->second.second), cfg.opt);
            if (articleCache.size() > 5000) articleCache.clear();
            articleCache[id] = text;
        }
    }
    if (headOnly) text = text.substr(0, text.find("\r\n\r\n") + 2);
    if (part == Part::Body) {
        const size_t end = text.find("\r\n\r\n");
        text = end == std::string::npos ? std::string() : text.substr(end + 4);
    }
    const char *code = part == Part::Head ? "221 " : part == Part::Body ? "222 " : "220 ";
    const std::string status = code + std::to_string(number) + " " + (id.empty() ? "<x>" : id);
    std::string body = dotStuff(text);
    if (twice_) {
        twice_ = false;
        body += "220 0 " + (id.empty() ? std::string("<x>") : id) + "\r\n" + dotStuff(text);
    }
    return sendMultiline(status, body);
}

void Conn::serve()
{
    if (!send(cfg.greeting + "\r\n")) return;
    std::string line;
    while (readLine(line)) {
        if (cfg.log) {
            std::lock_guard<std::mutex> lk(logMutex);
            fprintf(cfg.log, "%d %s\n", id_, line.c_str());
            fflush(cfg.log);
        }
        std::string verb = line, arg;
        const size_t sp = line.find(' ');
        if (sp != std::string::npos) {
            verb = line.substr(0, sp);
            arg = line.substr(sp + 1);
        }
        verb = upper(verb);
        if (verb == "MODE" || verb == "AUTHINFO") {
            const size_t s2 = arg.find(' ');
            std::string sub = upper(s2 == std::string::npos ? arg : arg.substr(0, s2));
            verb += " " + sub;
            arg = s2 == std::string::npos ? "" : arg.substr(s2 + 1);
        }
        awaitLatency();
        Fault *f = faultFor(verb, arg);
        // Answered normally, but as two responses run together (a lost terminator).
        if (f && f->action == "twice") twice_ = true;
        else if (f) {
            if (f->action == "drop") return;
            if (f->action == "stall") {
                while (readLine(line)) {}
                return;
            }
            if (f->action == "cut") {
                // The start of a reply, then the end of the stream; what the client sent
                // meanwhile is read first, so the close is not a reset that could lose it.
                send("2");
                if (!ssl_) {
                    ::shutdown(fd_, SHUT_WR);
                    while (readLine(line)) {}
                }
                return;
            }
            if (f->action == "flood") {
                // A multi-line reply that never ends, as fast as the client takes it.
                std::string line(1000, 'x');
                line += "\r\n";
                std::string chunk;
                while (chunk.size() < 64 * 1024) chunk += line;
                if (!send(verb == "ARTICLE" ? "220 0 <flood@x>\r\n" : "224 overview follows\r\n")) return;
                while (sendAll(chunk.data(), chunk.size())) {}
                return;
            }
            if (f->action == "trickle") {
                // A reply that keeps coming, a byte every half second, and never ends.
                const std::string head = verb == "ARTICLE" ? "220 0 <trickle@x>\r\n" : "224 overview follows\r\n";
                if (!send(head)) return;
                while (send("x")) std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return;
            }
            // A bare code gets its usual text; anything longer is sent as written.
            const int code = atoi(f->action.c_str());
            if (code == 480) mustAuth_ = true;
            const char *t = f->action.size() == 3 ? cannedText(code) : nullptr;
            send(std::string(t ? t : f->action.c_str()) + "\r\n");
            // A code that opens a multi-line reply gets a body and its end, as a server would
            // send one: an answer of the wrong kind, but well formed.
            if (code == 100 || code == 101 || code == 215 || (code >= 220 && code <= 222) || code == 224 || code == 225
                || code == 230 || code == 231 || code == 282)
                send("unexpected body\r\n.\r\n");
            continue;
        }
        const bool open = verb == "QUIT" || verb == "MODE READER" || verb == "AUTHINFO USER" || verb == "AUTHINFO PASS"
                          || verb == "CAPABILITIES";
        if (!readerMode_ && !open) {
            send(cfg.modeReader == 401 ? "401 MODE-READER\r\n" : "500 What?\r\n");
            continue;
        }
        if (mustAuth_ && !authed_ && !open) {
            send("480 authentication required\r\n");
            continue;
        }
        if (verb == "QUIT") {
            send("205 closing connection - goodbye!\r\n");
            return;
        } else if (verb == "CAPABILITIES" && cfg.capabilities) {
            std::string body = "VERSION 2\r\nIMPLEMENTATION vantrel-nntpd\r\n";
            body += readerMode_ ? "READER\r\nOVER\r\n" : "MODE-READER\r\n";
            if (cfg.compress && !deflating_) body += "COMPRESS DEFLATE\r\n";
            if (!cfg.user.empty() && !authed_) body += "AUTHINFO USER\r\n";
            sendMultiline("101 Capability list:", body);
        } else if (verb == "XFEATURE" && cfg.xfeatureGzip && upper(arg).rfind("COMPRESS GZIP", 0) == 0) {
            gzip_ = true;
            gzipInside_ = upper(arg).find("TERMINATOR") != std::string::npos;
            send("290 feature enabled\r\n");
        } else if (verb == "COMPRESS" && cfg.compress && !deflating_ && upper(arg) == "DEFLATE") {
            if (!startCompression()) return;
        } else if (verb == "MODE READER") {
            readerMode_ = true;
            send("200 reader mode, posting not allowed\r\n");
        } else if (verb == "AUTHINFO USER") {
            pendingUser_ = arg;
            send("381 password required\r\n");
        } else if (verb == "AUTHINFO PASS") {
            if (!cfg.user.empty() && pendingUser_ == cfg.user && arg == cfg.pass) {
                authed_ = true;
                send("281 authentication accepted\r\n");
            } else {
                send("481 authentication rejected\r\n");
            }
        } else if (verb == "SLAVE") {
            send("202 slave status noted\r\n");
        } else if (verb == "GROUP") {
            group_ = -1;
            for (size_t i = 0; i < cfg.groups.size(); ++i)
                if (cfg.groups[i].g.name == arg) group_ = int(i);
            if (group_ < 0) {
                send("411 no such newsgroup\r\n");
                continue;
            }
            const synth::Group &g = cfg.groups[size_t(group_)].g;
            current_ = g.first;
            send("211 " + std::to_string(g.last >= g.first ? g.last - g.first + 1 : 0) + " " + std::to_string(g.first) + " "
                 + std::to_string(g.last) + " " + g.name + "\r\n");
        } else if (verb == "XZVER" && !cfg.xzver) {
            send("500 What?\r\n");
        } else if (verb == "XOVER" || verb == "XZVER") {
            if (group_ < 0) {
                send("412 no newsgroup selected\r\n");
                continue;
            }
            const ServedGroup &sg = cfg.groups[size_t(group_)];
            long lo = current_, hi = current_;
            if (!arg.empty()) {
                lo = atol(arg.c_str());
                const size_t dash = arg.find('-');
                hi = dash == std::string::npos ? lo : (dash + 1 < arg.size() ? atol(arg.c_str() + dash + 1) : 0x7fffffff);
            }
            auto idx = [&](long n) {
                return size_t(std::lower_bound(sg.numbers.begin(), sg.numbers.end(), n) - sg.numbers.begin());
            };
            const size_t a = idx(lo), b = idx(hi + 1);
            if (a == b && cfg.pastEnd != 224 && sg.extraOverview.lower_bound(int(lo)) == sg.extraOverview.upper_bound(int(hi))) {
                send(cfg.pastEnd == 420 ? "420 no current article\r\n" : "423 no articles in that range\r\n");
                continue;
            }
            std::string tail;
            for (auto it = sg.extraOverview.lower_bound(int(lo)); it != sg.extraOverview.end() && it->first <= hi; ++it)
                tail += it->second + "\r\n";
            const ServedGroup *stored = tail.empty() ? &sg : nullptr;
            if (verb == "XZVER") {
                if (!sendXzver(sg.overview.substr(sg.offsets[a], sg.offsets[b] - sg.offsets[a]) + tail, stored, a, b)) return;
                continue;
            }
            if (gzip_) {
                if (!sendGzip(sg.overview.substr(sg.offsets[a], sg.offsets[b] - sg.offsets[a]) + tail, stored, a, b)) return;
                continue;
            }
            tail += ".\r\n";
            std::string z;
            uLong adl = 0;
            if (deflating_ && stored && sg.packedRange(a, b, &z, &adl)) {
                if (!send("224 overview information follows\r\n") || !sendDeflated(std::move(z)) || !send(tail)) return;
                continue;
            }
            // Large ranges go out straight from the pre-rendered text; small ones in one write.
            std::string out = "224 overview information follows\r\n";
            if (b > a && sg.offsets[b] - sg.offsets[a] > 65536) {
                if (!send(out) || !sendAll(sg.overview.data() + sg.offsets[a], sg.offsets[b] - sg.offsets[a]) || !send(tail))
                    return;
            } else {
                if (b > a) out.append(sg.overview, sg.offsets[a], sg.offsets[b] - sg.offsets[a]);
                send(out + tail);
            }
        } else if (verb == "ARTICLE" || verb == "HEAD" || verb == "BODY" || verb == "STAT") {
            const Part part = verb == "HEAD" ? Part::Head : verb == "BODY" ? Part::Body : verb == "STAT" ? Part::Stat : Part::Whole;
            if (!article(arg, part)) return;
        } else if (verb == "LIST") {
            std::string body;
            for (const ServedGroup &sg : cfg.groups)
                body += sg.g.name + " " + std::to_string(sg.g.last) + " " + std::to_string(sg.g.first) + " y\r\n";
            for (const std::string &l : cfg.listLines) body += l + "\r\n";
            for (int i = 0; i < cfg.listExtra; ++i)
                body += "alt.binaries.synth." + std::to_string(i % 997) + ".group" + std::to_string(i) + " "
                        + std::to_string(1000 + i) + " 1 y\r\n";
            sendMultiline("215 list of newsgroups follows", body);
        } else {
            send("500 command not recognized\r\n");
        }
    }
}

void loadArticleDir(std::string dir)
{
    if (cfg.groups.empty()) return;
    size_t gi = 0;
    if (const size_t at = dir.rfind('@'); at != std::string::npos) {
        const std::string name = dir.substr(at + 1);
        dir.resize(at);
        for (size_t k = 0; k < cfg.groups.size(); ++k)
            if (cfg.groups[k].g.name == name) gi = k;
    }
    ServedGroup &sg = cfg.groups[gi];
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() < 5 || n.substr(n.size() - 4) != ".art") continue;
        const int number = atoi(n.c_str());
        std::ifstream f(dir + "/" + n, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        std::string text = ss.str();
        // <n>.head, when present, gives the overview's headers of an article that lacks
        // them (an empty one).
        std::string head = text;
        {
            std::ifstream h(dir + "/" + n.substr(0, n.size() - 4) + ".head", std::ios::binary);
            if (h) {
                std::stringstream hs;
                hs << h.rdbuf();
                head = hs.str();
            }
        }
        auto header = [&](const std::string &h) {
            size_t p = head.find("\n" + h + ": ");
            if (p == std::string::npos && head.rfind(h + ": ", 0) == 0) p = size_t(-1);
            else if (p == std::string::npos) return std::string();
            size_t s = p + 1 + h.size() + 2;
            size_t e2 = head.find_first_of("\r\n", s);
            return head.substr(s, e2 - s);
        };
        const std::string id = header("Message-ID");
        sg.extraArticles[number] = text;
        if (!id.empty()) {
            cfg.extraById[id] = text;
            cfg.extraGroupById[id] = int(gi);
        }
        sg.extraOverview[number] = std::to_string(number) + "\t" + header("Subject") + "\t" + header("From") + "\t"
                                   + header("Date") + "\t" + id + "\t\t" + std::to_string(text.size()) + "\t"
                                   + std::to_string(std::count(text.begin(), text.end(), '\n'));
        sg.g.last = std::max(sg.g.last, number);
    }
    closedir(d);
}

} // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::tuple<std::string, int, int, int>> groupArgs;
    std::vector<std::string> articleDirs;
    bool prerender = false, overviewOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto val = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--port") cfg.port = atoi(val().c_str());
        else if (a == "--seed") cfg.opt.seed = strtoull(val().c_str(), nullptr, 10);
        else if (a == "--part-bytes") cfg.opt.partBytes = atoi(val().c_str());
        else if (a == "--yenc-only") cfg.opt.mixed = false;
        else if (a == "--prerender") prerender = true;
        else if (a == "--big-posts") { cfg.opt.bigPosts = true; cfg.opt.mixed = false; }
        else if (a == "--blob-bytes") cfg.blobBytes = strtoull(val().c_str(), nullptr, 10);
        else if (a == "--list-extra") cfg.listExtra = atoi(val().c_str());
        else if (a == "--list-line") cfg.listLines.push_back(val());
        else if (a == "--greeting") cfg.greeting = val();
        else if (a == "--tls") {
            const std::string v = val();
            const size_t colon = v.find(':');
            cfg.tls = SSL_CTX_new(TLS_server_method());
            if (colon == std::string::npos
                || SSL_CTX_use_certificate_chain_file(cfg.tls, v.substr(0, colon).c_str()) != 1
                || SSL_CTX_use_PrivateKey_file(cfg.tls, v.substr(colon + 1).c_str(), SSL_FILETYPE_PEM) != 1) {
                ERR_print_errors_fp(stderr);
                return 2;
            }
        }
        else if (a == "--require-auth") cfg.requireAuth = true;
        else if (a == "--mode-reader") cfg.modeReader = atoi(val().c_str());
        else if (a == "--capabilities") cfg.capabilities = true;
        else if (a == "--past-end") cfg.pastEnd = atoi(val().c_str());
        else if (a == "--latency") cfg.latencyMs = atoi(val().c_str());
        else if (a == "--rate") cfg.rate = atof(val().c_str());
        else if (a == "--max-connections") cfg.maxConnections = atoi(val().c_str());
        else if (a == "--segment") cfg.segment = true;
        else if (a == "--compress") cfg.compress = true;
        else if (a == "--xfeature-gzip") cfg.xfeatureGzip = true;
        else if (a == "--xzver") cfg.xzver = true;
        else if (a == "--precompress") cfg.precompress = true;
        else if (a == "--overview-only") overviewOnly = true;
        else if (a == "--compress-damage") cfg.damageAt = atoll(val().c_str());
        else if (a == "--article-dir") articleDirs.push_back(val());
        else if (a == "--scoped-ids") cfg.scopedIds = true;
        else if (a == "--log") cfg.log = fopen(val().c_str(), "w");
        else if (a == "--auth") {
            std::string v = val();
            const size_t c = v.find(':');
            cfg.user = v.substr(0, c);
            cfg.pass = c == std::string::npos ? "" : v.substr(c + 1);
        } else if (a == "--group") {
            std::string v = val();
            const size_t c1 = v.find(':'), c2 = v.find(':', c1 + 1), c3 = v.find(':', c2 + 1);
            groupArgs.emplace_back(v.substr(0, c1), atoi(v.c_str() + c1 + 1), atoi(v.c_str() + c2 + 1),
                                   c3 == std::string::npos ? 0 : atoi(v.c_str() + c3 + 1));
        } else if (a == "--fault") {
            std::string v = val();
            auto f = std::make_unique<Fault>();
            const size_t eq = v.find('=');
            std::string lhs = v.substr(0, eq), rhs = v.substr(eq + 1);
            const size_t at = rhs.find('@');
            if (at != std::string::npos) {
                f->nth = atoi(rhs.c_str() + at + 1);
                rhs = rhs.substr(0, at);
            }
            f->action = rhs;
            // Two-word verbs (MODE READER, AUTHINFO USER) take their second word as part of the verb.
            std::string U = upper(lhs);
            size_t sp = lhs.find(' ');
            if (U.rfind("MODE ", 0) == 0 || U.rfind("AUTHINFO ", 0) == 0) sp = lhs.find(' ', sp + 1);
            f->verb = upper(lhs.substr(0, sp));
            if (sp != std::string::npos) f->arg = lhs.substr(sp + 1);
            cfg.faults.push_back(std::move(f));
        } else {
            fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    for (auto &[name, first, count, last] : groupArgs) {
        ServedGroup sg;
        sg.overview.reserve(size_t(count) * 160);
        sg.g = synth::makeGroup(name, first, count, cfg.opt, [&](const synth::Article &art) {
            sg.offsets.push_back(sg.overview.size());
            sg.numbers.push_back(art.number);
            sg.overview += synth::overviewLine(art);
            sg.overview += "\r\n";
            return overviewOnly;
        });
        sg.g.last = std::max(sg.g.last, last);
        sg.offsets.push_back(sg.overview.size());
        if (overviewOnly) sg.g.posts = {};
        const int gi = int(cfg.groups.size());
        for (const synth::Article &art : sg.g.articles)
            if (!cfg.byMsgid.count(art.msgid)) cfg.byMsgid[art.msgid] = {gi, art.number};
        cfg.groups.push_back(std::move(sg));
    }
    for (const std::string &d : articleDirs) loadArticleDir(d);
    if (cfg.precompress)
        for (ServedGroup &sg : cfg.groups)
            for (size_t a = 0; a < sg.numbers.size(); a += ServedGroup::kBlock) {
                const size_t b = std::min(sg.numbers.size(), a + ServedGroup::kBlock);
                const char *p = sg.overview.data() + sg.offsets[a];
                const size_t n = sg.offsets[b] - sg.offsets[a];
                z_stream z{};
                deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
                std::string out(deflateBound(&z, uLong(n)) + 16, '\0');
                z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(p));
                z.avail_in = uInt(n);
                z.next_out = reinterpret_cast<Bytef *>(out.data());
                z.avail_out = uInt(out.size());
                deflate(&z, Z_SYNC_FLUSH);
                out.resize(z.total_out);
                out.shrink_to_fit();
                deflateEnd(&z);
                sg.packed.push_back(std::move(out));
                sg.adler.push_back(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(p), uInt(n)));
                sg.plainBytes.push_back(n);
            }
    if (prerender)
        for (const ServedGroup &sg : cfg.groups)
            for (const synth::Article &art : sg.g.articles)
                if (!art.expired) prerendered[art.msgid] = dotStuff(synth::renderArticle(sg.g, art, cfg.opt)) + ".\r\n";
    if (cfg.blobBytes) {
        std::string body;
        body.reserve(cfg.blobBytes + 200);
        std::mt19937 r(7);
        std::string line(126, 'x');
        while (body.size() < cfg.blobBytes) {
            for (char &c : line) c = char('!' + r() % 90);
            body += line;
            body += "\r\n";
        }
        cfg.blob = dotStuff(body) + ".\r\n";
    }

    int ls = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(cfg.port));
    if (bind(ls, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(ls, 64) != 0) {
        perror("bind");
        return 1;
    }
    socklen_t alen = sizeof addr;
    getsockname(ls, reinterpret_cast<sockaddr *>(&addr), &alen);
    printf("PORT %d\n", ntohs(addr.sin_port));
    fflush(stdout);
    for (;;) {
        int fd = accept(ls, nullptr, nullptr);
        if (fd < 0) continue;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd] {
            Conn c(fd);
            // Counted from the accept to the close, as a provider counts them.
            const bool over = ++connsOpen > cfg.maxConnections && cfg.maxConnections > 0;
            if (c.startTls()) {
                if (over) c.send("502 too many connections from your host\r\n");
                else c.serve();
            }
            --connsOpen;
        }).detach();
    }
}
