#pragma once
// The application core owned by the program: paths, settings, log, sounds, resource
// display, countdown and the window state the engine drives.
#include "AppPaths.h"
#include "Countdown.h"
#include "OpsLog.h"
#include "Prompter.h"
#include "RateLimiter.h"
#include "Resources.h"
#include "Settings.h"
#include "Sound.h"
#include "UiState.h"
#include <memory>

namespace vt {

class AppCore {
public:
    AppCore(const AppPaths &paths, Prompter &prompter);

    AppPaths paths;
    Prompter &prompter;
    OpsLog log;
    Settings settings;
    Sounds sounds;
    UiState ui;
    Countdown countdown;
    ResourceMonitor resources;
    SettingsFile settingsFile;
    // The download's speed limit, over all its connections.
    RateLimiter downloadLimit;

    void LogOp(const QString &msg, bool record) { log.LogOp(msg, record); }
    // A news server could not be reached and the program waits to try again: what to check
    // is said once, without a question, until a connection works again.
    void connectionTrouble(const QString &why);
    void connectionWorks() { m_troubleSaid = false; }
    // What a failed connection is called where the countdown shows it.
    static QString connectionFailure(const QString &why, const QString &server);
    // Copies the settings that other objects keep as their own flags.
    void applySettings();

private:
    bool m_troubleSaid = false;
};

} // namespace vt
