#pragma once
// The half of the crunch that needs no store: an overview burst cut into lines and each
// line into what the store files (number, subject parsed, poster, bytes, date, id). Pure,
// so a many-connection scan runs it on a thread of its own, a burst ahead of the filing.
#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vt {

// Reduces a From field to the poster name.
QByteArray parseFrom(const QByteArray &from, const std::function<void(const QString &)> &onError = {});
// The same as a slice of from.
QByteArrayView posterOf(QByteArrayView from, const std::function<void(const QString &)> &onError = {});

// One overview line, ready to file. Fields borrow the burst unless a byte had to change.
struct ParsedHeader {
    bool file = false;   // false: no TAB, nothing to file
    qint32 number = 0;
    QByteArray name, total, subject;   // as the subject parser gives them
    QByteArray poster, bytes, date, msgid;
    QStringList errors;   // log lines, in the order the line raised them
};

// Text made while parsing, kept in large blocks for a burst's lines to borrow: thousands of
// small names made on one thread and freed later would each cost the allocator a slow path.
class TextArena {
public:
    QByteArray keep(const QByteArray &t);
    // Empty again, its blocks kept for the next burst.
    void rewind();

private:
    struct Block {
        std::unique_ptr<char[]> at;
        size_t size = 0;
    };
    std::vector<Block> m_blocks;
    size_t m_block = 0;   // the block being filled, m_blocks.size() when none
    char *m_at = nullptr;
    size_t m_left = 0;
};

// A line without its CR LF (the burst's first line, its status, keeps its CR). With an
// arena, the texts made from the line are kept there.
ParsedHeader parseOverviewLine(const char *d, qsizetype n, TextArena *arena = nullptr);

// Where the burst's next line ends: its CR of a CR LF, or -1.
qsizetype overviewLineEnd(const QByteArray &burst, qsizetype from);

// A whole burst: its lines up to the terminator.
struct ParsedBurst {
    QByteArray burst;   // what the fields borrow
    TextArena texts;    // and what they made
    std::vector<ParsedHeader> lines;
    std::atomic<bool> done{false};
    std::atomic<bool> dropped{false};   // nobody waits for it any more
};
void parseBurst(ParsedBurst &b);

// One or two threads (two where the machine has more than two cores) that parse bursts,
// taken in the order they are handed in (one may end before the one taken earlier); ready runs in the owner's thread once a burst is parsed.
// The owner holds the parser, so it outlives the threads; a call still queued when the
// owner goes is dropped with it.
class BurstParser {
public:
    explicit BurstParser(QObject *owner) : m_owner(owner) {}
    ~BurstParser();
    static int threadCount();
    std::shared_ptr<ParsedBurst> submit(const QByteArray &burst, std::function<void(ParsedBurst *)> ready);
    // A burst filed: emptied on a parser thread (thousands of small blocks), its buffers
    // kept for the bursts to come.
    void recycle(std::shared_ptr<ParsedBurst> b);
    // The scan is over: the kept bursts are freed.
    void dropSpares();
    size_t spares();

private:
    struct Job {
        std::shared_ptr<ParsedBurst> burst;
        std::function<void(ParsedBurst *)> ready;
    };
    void run();
    void spare(std::shared_ptr<ParsedBurst> b);
    static constexpr size_t kMostSpare = 64;
    QObject *m_owner;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::vector<std::shared_ptr<ParsedBurst>> m_spare;   // emptied, their memory already in place
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

} // namespace vt
