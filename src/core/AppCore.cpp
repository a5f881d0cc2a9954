#include "AppCore.h"

namespace vt {

AppCore::AppCore(const AppPaths &p, Prompter &pr)
    : paths(p), prompter(pr), sounds(p.soundFolder()), countdown(log, sounds), resources(settings, sounds),
      settingsFile(paths, log, prompter)
{
    log.setLogFilePath(paths.opsLog());
    log.setTitleParts(paths.folderName(), [this] { return settings.News_Host; });
    countdown.rescanSeconds = [this] { return settings.Rescan_Time; };
}

void AppCore::applySettings()
{
    log.enableLogging = settings.chkEnableLogging;
    log.logFile = settings.chkLogFile;
    sounds.enabled = settings.chkSFX;
    downloadLimit.setRate(qint64(settings.Download_Limit) * 1024);
}

QString AppCore::connectionFailure(const QString &why, const QString &server)
{
    if (why.contains(QStringLiteral("refused"), Qt::CaseInsensitive)) return QStringLiteral("Connection refused by ") + server;
    return why + QStringLiteral(" (") + server + u')';
}

void AppCore::connectionTrouble(const QString &why)
{
    if (m_troubleSaid) return;
    m_troubleSaid = true;
    prompter.message(QStringLiteral("The news server cannot be reached: ") + why
                     + QStringLiteral(".\r\n\r\nCheck the server's name and port in Options, Servers (the first server is the one in the "
                                      "login dialog). The program tries again every ")
                     + QString::number(settings.Rescan_Time) + QStringLiteral(" seconds; Stop ends the tries."));
}

} // namespace vt
