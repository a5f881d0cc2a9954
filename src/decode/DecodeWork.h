#pragma once
// The file work of a decode: cache files in, a file in the download folder out (yEnc with
// our own decoder, everything else through libuu). It touches no store, batch or widget,
// so it runs on the decode thread.
#include "Yenc.h"
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace vt {

// The library's text for one of its return codes.
QString uuResultText(int code);

// What one decode needs, copied from the store when it is queued: the file work never
// reads the store, the batch or the widgets, so it can run on its own thread while they
// change.
struct DecodeJob {
    int item = 0;
    quint32 itemUse = 0;             // tells, at the end, whether the slot still holds this post
    QByteArray subject;
    QByteArray poster;
    char batchChange = '-';          // how the item leaves the batch once decoded ('x': hidden too)
    QByteArray displayName;
    QString folder;                  // the download folder for it, ending with "/"
    std::vector<QString> parts;      // cache files of parts 1..n
    std::vector<bool> partZero;      // a part numbered 0 (no file data)
    bool oldRenameStyle = false;
    bool keepFailedParts = false;    // a failed decode leaves its parts in the cache
    // Parts decoded as they arrived into `direct` (the item's file until the decode names
    // it), listed in `journal`: their records by part (their entry in parts is empty).
    QString direct, journal;
    std::vector<std::optional<YencPartInfo>> decoded;
    bool isDirect(int part) const { return part >= 1 && part <= int(decoded.size()) && decoded[size_t(part - 1)]; }
};

struct DecodeOutcome {
    bool ok = false;
    QString status, out;
    QString localFailure;   // not the post's fault: nothing changes, the item stays
    int libraryCode = -1;   // the library's return code when it failed (for its sound)
    bool cancelled = false;
    bool partsRemoved = false;   // the cache files went with the decode
};

// The file work of one decode (yEnc with our decoder, everything else through libuu).
// Reports through the callbacks; one object per thread.
class DecodeWork {
public:
    std::function<void(const QString &, bool record)> log = [](const QString &, bool) {};
    std::function<void(qint64 value, qint64 max)> fileProgress = [](qint64, qint64) {};
    // Called while decoding: keeps the download watchdog quiet.
    std::function<void()> activity;
    // Called on the decoding thread the moment a decode is over (its file has its name),
    // before anything else: what a kill right after must not undo.
    std::function<void(const DecodeJob &, const DecodeOutcome &)> over;
    // Set to end the decode early (the program is exiting).
    const std::atomic<bool> *cancel = nullptr;
    YencDecoder yenc;

    DecodeOutcome run(const DecodeJob &job);
    // The job's cache files go, each said in the log.
    void removeParts(const DecodeJob &job);

private:
    bool yencPath(const DecodeJob &job, DecodeOutcome &o);
    bool yencParts(const DecodeJob &job, DecodeOutcome &o);
    bool libraryPath(const DecodeJob &job, DecodeOutcome &o);
    static bool moveFile(const QString &from, const QString &to);
};

} // namespace vt
