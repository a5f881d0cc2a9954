#pragma once
// The real program in a folder of its own, as the desktop and headless tests start it.
#include "Posts.h"
#include "TestSupport.h"
#include "core/SingleInstance.h"
#include "nzb/NzbFile.h"
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <vector>

namespace vt::test {

struct Outcome {
    int code = -1;
    QByteArray out, err;
};

inline Outcome run(const QString &program, const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        int ms = 120000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Outcome r;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A copy of the program in its own folder, set up for the test server, with its own
// runtime folder for the socket.
struct Portable {
    QTemporaryDir dir, runtime;
    QString exe = dir.path() + "/vantrel";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    explicit Portable(quint16 port)
    {
        QFile::copy(VANTREL_EXE, exe);
        test::writeFile(dir.path() + "/VANTREL.INI",
                        "[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(port)
                            + "\r\nchkAutodownload=0\r\nchkEnableLogging=1\r\nchkLogFile=1\r\nchkSaveAfterScan=0\r\n"
                              "chkAlwaysSaveHeaders=1\r\nDownload_Path="
                            + (dir.path() + "/dl/").toUtf8() + "\r\n");
        test::writeFile(dir.path() + "/favs.txt", "alt.binaries.one,0,False,1\r\n");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
    }
    QString socket() const
    {
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString s = SingleInstance::serverName(dir.path());
        qunsetenv("XDG_RUNTIME_DIR");
        return s;
    }
    QByteArray log() const { return test::readFile(dir.path() + "/OPSLOG.TXT"); }
    // Starts the copy as a user would from the folder `cwd`; true once it runs.
    bool launch(QProcess &p, const QStringList &args, const QString &cwd = {}) const
    {
        p.setProcessEnvironment(env);
        if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
        p.start(exe, args);
        return p.waitForStarted();
    }
};

// `count` posts of random bytes (seeds from `seed`), each `parts` yEnc parts of 25,000
// bytes, as article files numbered on from 1, and the NZB that lists them.
inline std::vector<QByteArray> writePosts(const QString &arts, const QString &nzb, const QByteArray &prefix, int count, int parts, quint32 seed)
{
    NzbDocument doc;
    std::vector<QByteArray> data;
    for (int f = 0; f < count; ++f) {
        data.push_back(test::randomBytes(parts * 25000, seed + quint32(f)));
        doc.files.push_back(test::writeYencPost(arts, prefix + QByteArray::number(f) + ".bin", data.back(), 25000, 1 + parts * f,
                                                "alt.binaries.one"));
    }
    writeNzbFile(nzb, doc, nullptr);
    return data;
}

inline void stop(QProcess &p)
{
    ::kill(pid_t(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
}

} // namespace vt::test
