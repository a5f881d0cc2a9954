#pragma once
// par2 sets: what Debian's par2 program says, read into a report; the names a par2 file
// would make, checked before it runs; recovery volumes by their names; and the program
// run as a process that reports its progress and never blocks the window.
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace vt {

struct Par2Report {
    bool allCorrect = false;       // "All files are correct, repair is not required."
    bool repairNeeded = false;
    bool repairPossible = false;
    bool repairComplete = false;
    int blocksNeeded = 0;          // "You need N more recovery blocks to be able to repair."
    int blocksUsed = 0;            // "N recovery blocks will be used to repair."
    int dataBlocks = 0, dataBlocksAvailable = 0;
    std::vector<std::pair<QString, QString>> renamed;   // found under, real name
    QStringList damaged, missing;                       // target names
    QStringList partialCopies;   // other files that held some of a target's blocks
};

// The whole output of one run (progress lines and all).
Par2Report parsePar2Output(const QByteArray &output);
// The last percentage in a piece of output ("Scanning: 42.1%", "Repairing: 7.0%"), or -1.
double lastPar2Percent(const QByteArray &chunk, QString *what = nullptr);

// What one par2 file holds: the recovery set it belongs to (whatever the file is called),
// the file names the set describes and how many recovery blocks this file carries.
// Damaged packets are passed over. Names not in UTF-8 are read as Latin-1.
struct Par2FileInfo {
    QByteArray setId;   // 16 bytes; empty: no par2 packet found
    QStringList names;
    // Names not in UTF-8 as they are in the file, with the name read from them.
    std::vector<std::pair<QByteArray, QString>> foreignNames;
    int recoveryBlocks = 0;
};
Par2FileInfo readPar2File(const QByteArray &data);
// The same from a file on disk, reading packet headers only (volumes may be large).
Par2FileInfo scanPar2File(const QString &path);
bool startsLikePar2(const QByteArray &head);
// Names par2 may write: relative paths that stay inside the set's folder, without odd
// characters.
bool isSafePar2Name(const QString &name);

// "name.vol03+04.par2": first block 3, four blocks. Not a volume: {-1, 0}.
std::pair<int, int> par2VolumeBlocks(const QString &fileName);
// Which of the volumes (block counts, sizes in bytes) to fetch for `needed` blocks: the
// fewest bytes, then the fewest volumes; smallest first. Empty when all of them are not
// enough. Without sizes, a volume's size is taken as its blocks.
std::vector<size_t> chooseRecoveryVolumes(int needed, const std::vector<int> &blockCounts, const std::vector<qint64> &bytes = {});

// One run of par2 in a folder.
class Par2Run : public QObject {
    Q_OBJECT
public:
    enum class Mode { Verify, Repair };
    explicit Par2Run(QObject *parent = nullptr);
    ~Par2Run() override;
    // extraFiles: files that may be the set's files under other names.
    void start(Mode mode, const QString &indexFile, const QStringList &extraFiles, bool purge);
    bool running() const { return m_proc.state() != QProcess::NotRunning; }
    void cancel();
    static QString program();

signals:
    void progress(const QString &what, double percent);
    void finished(const Par2Report &report, int exitCode, const QString &failure);

private:
    QProcess m_proc;
    QByteArray m_out;
};

} // namespace vt
