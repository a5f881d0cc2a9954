#pragma once
// Splits an NNTP byte stream into complete replies. A single-line reply is complete at its
// CR LF; a multi-line one (by its status code) at CR LF "." CR LF. Only the newly arrived
// tail is searched, so a reply of n bytes costs O(n) however it is cut. After XFEATURE
// COMPRESS GZIP, a reply whose status line says "[COMPRESS=GZIP]" brings its body as one
// zlib (or gzip) stream, its terminator inside it or right after it: it is handed on
// inflated, as the server would have sent it plain.
#include <QByteArray>
#include <memory>

namespace vt {

struct Reply {
    QByteArray data;        // the whole reply as received, line ends and terminator included
    bool multiline = false;
    int code = 0;           // first three digits, or -1 when the line does not start with them
    QByteArray command;     // the command line it answers (empty for the greeting)

    QByteArray firstLine() const;   // without its CR LF
    bool startsWith(const char *prefix) const { return data.startsWith(prefix); }
};

class ReplyFramer {
public:
    static bool isMultilineCode(int code);

    void feed(const char *data, qsizetype len);
    void feed(const QByteArray &bytes) { feed(bytes.constData(), bytes.size()); }
    // Zero-copy feeding: write up to n bytes at the returned place, then commit how many.
    char *appendSpace(qsizetype n);
    void commitAppend(qsizetype written);
    // Takes the next complete reply; false when none is complete yet.
    bool next(Reply &out);
    void reset();
    // The bytes after the last reply taken, out of the framer (which is then empty): they
    // are to be read otherwise (a compressed stream starts there).
    QByteArray takeRest();
    // While a multi-line reply is being received and next() found no end: hands out its
    // bytes so far (status line included, raw) except the last four, which may start the
    // terminator. The complete reply then holds only what was not taken.
    qsizetype takeReceived(QByteArray &out);

    // Bytes of the reply still being received (for progress lines).
    qsizetype pendingBytes() const { return m_buf.size() - m_pos; }
    bool inMultiline() const { return m_state != State::StatusLine; }
    // Replies marked "[COMPRESS=GZIP]" are inflated (XFEATURE COMPRESS GZIP is on).
    void acceptGzipReplies(bool on) { m_gzipOn = on; }
    bool gzipReplies() const { return m_gzipOn; }
    // A compressed reply could not be read (or grew past the limit): nothing after it can
    // be framed.
    bool damaged() const { return m_damaged; }
    // The most a compressed reply may inflate to.
    void setInflateLimit(qint64 bytes) { m_inflateLimit = bytes; }

    ReplyFramer();
    ~ReplyFramer();
    ReplyFramer(ReplyFramer &&) noexcept;
    ReplyFramer &operator=(ReplyFramer &&) noexcept;

private:
    enum class State { StatusLine, Body, GzipBody };
    bool gzipStep(Reply &out);
    struct Inflater;
    std::unique_ptr<Inflater> m_z;
    bool m_gzipOn = false, m_damaged = false, m_gzipEnded = false;
    QByteArray m_gzipReply;   // the status line, then the body as it inflates
    qsizetype m_lastGzipSize = 0;
    qint64 m_inflateLimit = qint64(1) << 30;
    void compact();

    QByteArray m_buf;
    qsizetype m_pos = 0;        // start of the reply being framed
    qsizetype m_scan = 0;       // where the next search starts
    qsizetype m_bodyFrom = 0;   // earliest possible terminator start of the current body
    State m_state = State::StatusLine;
    int m_code = 0;
    qsizetype m_appendAt = 0;
};

} // namespace vt
