#pragma once
// The engine, built and wired once: what the program runs and what the tests drive are the
// same objects joined the same way. The window adds only what it shows and asks.
#include "core/AppCore.h"
#include "download/BatchQueue.h"
#include "download/Decoder.h"
#include "download/DownloadDriver.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/BatchJournal.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "headers/NzbOrigins.h"
#include "headers/WatchList.h"
#include "nntp/ServerTest.h"
#include "nzb/NzbImport.h"
#include "nntp/Session.h"
#include "scan/ScanDriver.h"
#include "groups/HostGroupList.h"
#include "setup/SetupAssistant.h"
#include "viewers/ArticleViewer.h"
#include "viewers/PartsList.h"
#include "viewers/Preview.h"

namespace vt {

class Engine {
public:
    Engine(const AppPaths &paths, Prompter &prompter);
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    AppCore core;
    Session session{core};
    NewsgroupTable groups{core.log, core.prompter, core.ui};
    HeaderStore store;
    WatchList watch;
    ScanDriver scan{core, session, groups, store};
    BatchQueue batch{store, &groups, &core.log};
    HeaderListModel view{store, &groups};
    ProcessedList processed;
    PartCache cache{core.settings, groups, store};
    Decoder decoder{core, store, groups, batch, processed, cache};
    NzbCatalog nzb;
    DownloadDriver download{core, session, store, batch, processed, cache, decoder, nzb};
    HeaderFile headerFile{store, core.log, core.prompter};
    // The batch's changes since the last header save, replayed at start-up.
    BatchJournal journal{core.paths.batchJournal()};
    // The feature windows' engines, each on a connection of its own.
    HostGroupList hostGroups{core, session, groups};
    SetupAssistant assistant{core, session, hostGroups};
    ArticleViewer viewer{core, session, groups};
    PartsList parts{store, groups};
    Previewer preview{core, session, groups, store, cache};
    // The options' Test of a server.
    ServerTest serverTest;

    // What a start loads and an end saves, the same with a window or without one.
    void loadWatchList();   // after the settings
    void loadHeaders();   // the header file, the batch journal, par2 work, NZB origins
    void saveHeaders();   // in steps: headersSaved follows
    void headersSaved(bool ok);
    // Nothing is left to save: the marks as they are are covered by the file on disk.
    void marksCovered();
    // Leaving without saving the headers still keeps what the batch holds.
    void keepBatchWithoutHeaders();
    // The end of the run: the favourites, the headers saved or the batch kept, then
    // closeDown: a save in steps is finished here and the connections close.
    void end(bool saveHeaders);
    void closeDown();
    // NZB files into the headers and the batch; a file that cannot be read or is refused
    // is said in a message. What each file brought, in order (empty items: refused).
    std::vector<NzbImport> importNzbFiles(const QStringList &paths);
};

} // namespace vt
