#pragma once
// Test helpers: the local NNTP server process, event-loop waiting, temporary folders.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>
#include <stdexcept>

namespace vt::test {

// Runs the event loop until pred holds or ms pass; returns pred().
inline bool waitFor(const std::function<bool()> &pred, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::usleep(200);
    }
    return true;
}

// Runs what the event loop has queued now (and what that queues), without waiting for
// time to pass: what would follow from the last step has happened after it.
inline void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

inline void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class TestServer {
public:
    // startMs: how long its start may take (a benchmark's group of millions takes long).
    explicit TestServer(QStringList args, bool withLog = true, int startMs = 20000)
    {
        if (withLog) {
            m_logPath = m_dir.path() + QStringLiteral("/commands.log");
            args << QStringLiteral("--log") << m_logPath;
        }
        m_proc.setProgram(QStringLiteral(VANTREL_NNTPD));
        m_proc.setArguments(args);
        m_proc.start();
        if (!m_proc.waitForStarted(5000)) throw std::runtime_error("test server did not start");
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < startMs) {
            m_proc.waitForReadyRead(200);
            out += m_proc.readAllStandardOutput();
        }
        if (!out.startsWith("PORT ")) throw std::runtime_error("test server gave no port");
        m_port = quint16(out.mid(5).trimmed().toInt());
    }
    ~TestServer()
    {
        m_proc.kill();
        m_proc.waitForFinished(3000);
    }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_proc.processId(); }
    // Commands the server received, "<connection> <line>" each.
    QStringList commands() const
    {
        QFile f(m_logPath);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromLatin1(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    // The command lines of one connection (1 = first accepted).
    QStringList commandsOf(int conn) const
    {
        QStringList out;
        const QString p = QString::number(conn) + u' ';
        for (const QString &l : commands())
            if (l.startsWith(p)) out << l.mid(p.size());
        return out;
    }

    // A command is logged by the server a moment after the client sent it (the client may
    // already have logged its own end); waits for that line on one connection.
    bool waitForCommand(int conn, const QString &line, int ms = 3000) const
    {
        return waitFor([&] { return commandsOf(conn).contains(line); }, ms);
    }

private:
    QTemporaryDir m_dir;
    QString m_logPath;
    QProcess m_proc;
    quint16 m_port = 0;
};

} // namespace vt::test
