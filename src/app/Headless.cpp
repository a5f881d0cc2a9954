#include "Headless.h"
#include "core/CommandLine.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <cstdio>

namespace vt {

Headless::Headless(const AppPaths &paths, QString rawCommandLine, QStringList nzbFiles)
    : m_cmdLine(std::move(rawCommandLine)), m_nzbFiles(std::move(nzbFiles))
{
    m_prompter.say = [this](const QString &text) {
        fprintf(stderr, "vantrel: %s\n", qPrintable(text));
        if (m_engine) m_engine->core.LogOp(text, true);
    };
    m_engine = std::make_unique<Engine>(paths, m_prompter);
    m_remote = std::make_unique<Remote>(*m_engine);
    connect(&m_engine->headerFile, &HeaderFile::saveFinished, this, [this](bool ok) { m_engine->headersSaved(ok); });
}

Headless::~Headless() = default;

void Headless::start()
{
    AppCore &c = m_engine->core;
    QDir::setCurrent(c.paths.folder());
    c.settingsFile.LoadSettings(c.settings);
    c.applySettings();
    m_engine->loadWatchList();
    m_engine->groups.loadFavourites(c.paths.favs());
    m_engine->loadHeaders();
    m_remote->start(true);
    if (RemoteServer *s = m_remote->server(); s && s->port())
        printf("vantrel: remote control on http://%s:%u/ (API key in %s)\n", qPrintable(c.settings.Remote_Address), s->port(), qPrintable(c.paths.ini()));
    else
        printf("vantrel: running without remote control\n");
    fflush(stdout);
    commandLineFromAnotherStart(m_cmdLine, std::exchange(m_nzbFiles, {}));
    // What the last run left in the batch goes on downloading: nobody is there to press Download.
    m_remote->api().newWork();
}

void Headless::commandLineFromAnotherStart(const QString &raw, const QStringList &nzbFiles)
{
    for (const QString &f : nzbFiles) {
        QFile file(f);
        QString error;
        Jobs::Add how;
        how.name = QFileInfo(f).fileName();
        if (!file.open(QIODevice::ReadOnly) || m_remote->jobs().add(file.readAll(), how, &error).isEmpty())
            m_prompter.message(f + QStringLiteral(": ") + (error.isEmpty() ? file.errorString() : error));
    }
    if (!nzbFiles.isEmpty()) m_remote->api().newWork();
    runCommandLine(raw);
}

void Headless::runCommandLine(const QString &raw)
{
    switch (parseCommandLine(raw)) {
    case LaunchAction::None: break;
    case LaunchAction::Scan: m_engine->session.connectForScan(); break;
    case LaunchAction::Download: m_engine->download.BOT1(); break;
    case LaunchAction::Invalid: m_prompter.message(invalidCommandLineMessage(raw)); break;
    }
}

void Headless::stop()
{
    if (m_stopping) return;
    m_stopping = true;
    AppCore &c = m_engine->core;
    c.settingsFile.SaveSettings(c.settings);
    m_engine->watch.SaveWatchList(c.paths.watch(), &c.log);
    m_engine->end(m_engine->store.headersDirty);
    QCoreApplication::exit(0);
}

} // namespace vt
