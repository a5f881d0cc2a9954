#pragma once
#include <atomic>
#include <functional>
// The one place that talks to UUDeview's library (libuu). It keeps the library's global
// state to one user at a time (on any thread), collects its messages, and reports while
// the library works.
#include <QByteArray>
#include <QString>

namespace vt {

class UuLibrary {
public:
    UuLibrary();
    ~UuLibrary();   // shuts the library down when still open
    UuLibrary(const UuLibrary &) = delete;
    UuLibrary &operator=(const UuLibrary &) = delete;

    // False when another user has the library open.
    bool init();
    void shutdown();
    bool isOpen() const { return m_open; }
    // Called from the library's busy callback while it works.
    std::function<void()> activity;
    // When set, the library's work ends at its next report ("operation cancelled").
    const std::atomic<bool> *cancel = nullptr;

    // Decode incomplete data as far as it goes (previews).
    void setDesperate(bool on);
    // 0 = loaded, else the library's return code.
    int loadFile(const QString &path);
    // Handles are 1-based positions in the library's file list; 0 = none.
    // Joins the entries of one file that the loader split apart (a name with blanks is
    // read differently from the begin line and the subjects), with the passes the
    // library's own command-line tool runs after loading; returns how many were joined.
    int merge();
    int listFirst();
    // The proposed name ("(NULL)" when the library has none) and the next handle.
    QByteArray listWalk(int handle, int *next);
    // A name made usable as a file name in the download folder.
    static QByteArray fileFilter(const QByteArray &name);
    // True when decoded to target; uuret is the library's code, mvret errno for I/O errors.
    bool decode(int handle, const QString &target, int *uuret, int *mvret);
    // The last message the library gave, with its severity.
    bool message(QString *text, int *severity);

private:
    int findWithData(int from) const;
    bool m_open = false;
    bool m_desperate = false;
    QString m_message;
    int m_severity = -1;
    static void onMessage(void *self, char *text, int severity);
};

} // namespace vt
