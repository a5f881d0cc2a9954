#pragma once
// The engine as the program builds it, over a fresh folder; the names are its parts.
#include "core/Prompter.h"
#include "engine/Engine.h"
#include <QTemporaryDir>

namespace vt::test {

struct EngineRig {
    QTemporaryDir dir;
    QuietPrompter prompter;
    Engine engine{AppPaths(dir.path()), prompter};
    AppCore &core = engine.core;
    Session &session = engine.session;
    NewsgroupTable &groups = engine.groups;
    HeaderStore &store = engine.store;
    ScanDriver &scan = engine.scan;
    BatchQueue &batch = engine.batch;
    ProcessedList &processed = engine.processed;
    PartCache &cache = engine.cache;
    Decoder &decoder = engine.decoder;
    NzbCatalog &nzb = engine.nzb;
    DownloadDriver &dl = engine.download;
    // answer: what the questions the engine asks get.
    // Compression is asked for where a test says so: the others' command lists stay as a
    // plain server sees them.
    explicit EngineRig(bool answer = false) : prompter(answer) { core.settings.chkCompress = false; }
};

} // namespace vt::test
