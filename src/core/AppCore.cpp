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

} // namespace vt
