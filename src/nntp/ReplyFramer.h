#pragma once
// Splits an NNTP byte stream into complete replies. A single-line reply is complete at its
// CR LF; a multi-line one (by its status code) at CR LF "." CR LF. Only the newly arrived
// tail is searched, so a reply of n bytes costs O(n) however it is cut.
#include <QByteArray>

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
    bool inMultiline() const { return m_state == State::Body; }

private:
    enum class State { StatusLine, Body };
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
