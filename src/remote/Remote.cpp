#include "Remote.h"
#include "core/CommandLine.h"
#include "engine/Engine.h"
#include "nzb/NzbFile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vt {

Remote::Remote(Engine &engine, QObject *parent) : QObject(parent), m_engine(engine), m_jobs(engine), m_api(engine, m_jobs)
{
    m_look.setInterval(3000);
    connect(&m_look, &QTimer::timeout, this, &Remote::lookAtWatchedFolder);
    // Jobs settle as runs end, not only when a tool asks.
    connect(&engine.download, &DownloadDriver::runOver, this, [this] { m_jobs.settle(); });
    connect(&engine.download.par2(), &Par2Sets::setFinished, this, [this] { QTimer::singleShot(0, this, [this] { m_jobs.settle(); }); });
}

Remote::~Remote() = default;

void Remote::start(bool http)
{
    m_jobs.load(m_engine.core.paths.jobs());
    m_api.apiKey();   // made on first use, shown in the options
    m_started = true;
    m_forced = http;
    settingsChanged();
    m_look.start();
    lookAtWatchedFolder();
}

void Remote::settingsChanged()
{
    if (!m_started) return;
    const Settings &s = m_engine.core.settings;
    const bool want = m_forced || s.chkRemote;
    if (m_server && (!want || s.Remote_Address != m_address || s.Remote_Port != m_portAsked)) {
        m_server.reset();
        m_engine.core.LogOp(QStringLiteral("Remote control stopped"), true);
    }
    if (!want || m_server) return;
    m_server = std::make_unique<RemoteServer>(m_engine, m_api);
    m_address = s.Remote_Address;
    m_portAsked = s.Remote_Port;
    m_server->start();
}

void Remote::lookAtWatchedFolder()
{
    const QString folder = m_engine.core.settings.Nzb_Watch_Folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    QHash<QString, qint64> now;
    bool added = false;
    for (const QFileInfo &f : files) {
        if (!isNzbFileName(f.fileName())) continue;
        const QString path = f.absoluteFilePath();
        now.insert(path, f.size());
        // Taken once its size held between two looks: a copy still being written waits.
        if (m_sizes.value(path, -1) != f.size()) continue;
        now.remove(path);
        QString error;
        QFile file(path);
        QString id;
        if (f.size() > NzbLimits().maxBytes) error = QStringLiteral("larger than the NZB limit");
        else if (!file.open(QIODevice::ReadOnly)) error = file.errorString();
        else {
            Jobs::Add how;
            how.name = f.fileName();
            id = m_jobs.add(file.readAll(), how, &error);
        }
        file.close();
        if (!id.isEmpty()) {
            QFile::remove(path);
            added = true;
            continue;
        }
        // Kept aside under a name the folder does not take again.
        const QString aside = path + QStringLiteral(".broken");
        QFile::remove(aside);
        QFile::rename(path, aside);
        m_engine.core.LogOp(QStringLiteral("Watched folder: ") + f.fileName() + QStringLiteral(" was not imported (") + error
                                + QStringLiteral("); kept as ") + QFileInfo(aside).fileName(),
                            true);
    }
    m_sizes = now;
    if (added) m_api.newWork();
}

} // namespace vt
