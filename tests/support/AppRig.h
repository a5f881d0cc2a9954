#pragma once
// The program with its windows (offscreen) over a fresh application folder. By default the
// stores record their calls instead of reading files; realStores keeps the real ones.
#include "app/Application.h"
#include "ui/Named.h"
#include "core/IniFile.h"
#include "core/Prompter.h"
#include <QFile>
#include <QTemporaryDir>
#include <memory>

using namespace vt;

namespace {
struct App {
    QTemporaryDir dir;
    QuietPrompter prompter;
    std::unique_ptr<Application> app;
    QStringList calls;
    int ended = 0;
    bool dirty = false;

    explicit App(const QByteArray &ini = "[Options]\r\nNews_Host=news.example\r\nDownload_Path=DL\r\n",
                 const QString &cmdLine = {}, bool realStores = false)
    {
        QByteArray text = ini;
        text.replace("DL", (dir.path() + "/dl/").toUtf8());
        QFile f(dir.path() + "/VANTREL.INI");
        f.open(QIODevice::WriteOnly);
        f.write(text);
        f.close();
        app = std::make_unique<Application>(AppPaths(dir.path()), cmdLine, &prompter);
        app->endProcess = [this] { ++ended; };
        if (realStores) return;
        auto rec = [this](const char *n) { return [this, n] { calls << n; }; };
        Application::Stores &s = app->stores;
        s.loadWatch = rec("loadWatch");
        s.saveWatch = rec("saveWatch");
        s.loadSkin = rec("loadSkin");
        s.loadFavs = rec("loadFavs");
        s.saveFavs = rec("saveFavs");
        s.loadHeaders = rec("loadHeaders");
        s.saveHeaders = rec("saveHeaders");
        s.fillGroupChooser = rec("fillGroupChooser");
        s.showSetupAssistant = rec("showSetupAssistant");
        s.headersDirty = [this] { return dirty; };
    }
    IniFile ini() const
    {
        IniFile i(dir.path() + "/VANTREL.INI");
        i.load();
        return i;
    }
};
} // namespace
