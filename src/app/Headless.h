#pragma once
// The program without a window: the same state folder, log, scan, watch list, download,
// par2 and unpacking, driven by the remote control, the watched folder and later starts'
// command lines. A stop saves as the window's exit does, without asking.
#include "core/Prompter.h"
#include "engine/Engine.h"
#include "remote/Remote.h"
#include <QObject>
#include <memory>

namespace vt {

// Messages go to the log and the terminal; questions take the careful answer, no.
class LogPrompter : public Prompter {
public:
    std::function<void(const QString &)> say;
    void message(const QString &text) override { if (say) say(text); }
    void askYesNo(const QString &text, QObject *, Answer answer) override { decline(text, answer); }
    void askOkCancel(const QString &text, QObject *, Answer answer) override { decline(text, answer); }
    void pickFolder(const QString &title, const QString &, const QString &, QObject *, Chosen chosen) override
    {
        if (say) say(title + QStringLiteral(": no folder chosen (no window)"));
        chosen({});
    }

private:
    void decline(const QString &text, const Answer &answer)
    {
        if (say) say(text + QStringLiteral(" (no window: answered no)"));
        answer(false);
    }
};

class Headless : public QObject {
    Q_OBJECT
public:
    Headless(const AppPaths &paths, QString rawCommandLine, QStringList nzbFiles);
    ~Headless() override;
    void start();
    // Saves and ends the process (QCoreApplication::exit).
    void stop();
    void commandLineFromAnotherStart(const QString &raw, const QStringList &nzbFiles);
    Engine &engine() { return *m_engine; }

private:
    void runCommandLine(const QString &raw);
    LogPrompter m_prompter;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<Remote> m_remote;
    QString m_cmdLine;
    QStringList m_nzbFiles;
    bool m_stopping = false;
};

} // namespace vt
