#include "FolderDialog.h"
#include "Named.h"
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace vt {

namespace {
QString withSlash(QString p) { return p.endsWith(u'/') ? p : p + u'/'; }
} // namespace

MakePathDialog::MakePathDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmMakePath"));
    setWindowTitle(QStringLiteral("New Folder"));
    Text1 = named<QLineEdit>("Text1", this);
    cmdOk = named<QPushButton>("cmdOk", QStringLiteral("OK"), this);
    cmdOk->setDefault(true);
    cmdCancel = named<QPushButton>("cmdCancel", QStringLiteral("Cancel"), this);
    auto *g = new QGridLayout(this);
    g->addWidget(new QLabel(QStringLiteral("New folder name:"), this), 0, 0, 1, 2);
    g->addWidget(Text1, 1, 0, 1, 2);
    g->addWidget(cmdOk, 2, 0);
    g->addWidget(cmdCancel, 2, 1);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdOk, &QPushButton::clicked, this, [this] {
        const QString name = Text1->text();
        if (name.trimmed().isEmpty() || !baseFolder) return;
        // One level only, named as typed; a path or a folder that exists is refused.
        const QString path = baseFolder() + name;
        if (name.contains(u'/') || name == QStringLiteral(".") || name == QStringLiteral("..") || QFileInfo::exists(path)
            || !QDir().mkdir(path)) {
            if (message) message(QStringLiteral("Could not create the folder ") + path);
            return;
        }
        if (moveTo) moveTo(withSlash(path));
        accept();
    });
}

FolderDialog::FolderDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmBrowse"));
    lblExplain = named<QLabel>("lblExplain", this);
    lblExplain->setWordWrap(true);
    lblFolder = named<QLabel>("lblFolder", this);
    Dir1 = named<QTreeView>("Dir1", this);
    m_model.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model.setRootPath(QStringLiteral("/"));
    Dir1->setModel(&m_model);
    for (int c = 1; c < m_model.columnCount(); ++c) Dir1->hideColumn(c);
    Dir1->header()->hide();
    cmdOk = named<QPushButton>("cmdOk", QStringLiteral("OK"), this);
    cmdOk->setDefault(true);
    cmdCancel = named<QPushButton>("cmdCancel", QStringLiteral("Cancel"), this);
    Command1 = named<QPushButton>("Command1", QStringLiteral("New &Folder"), this);
    frmMakePath = new MakePathDialog(this);
    frmMakePath->baseFolder = [this] { return folderText(); };
    frmMakePath->moveTo = [this](const QString &f) { setFolder(f); };

    auto *lay = new QVBoxLayout(this);
    lay->addWidget(lblExplain);
    lay->addWidget(Dir1, 1);
    lay->addWidget(lblFolder);
    auto *row = new QHBoxLayout;
    row->addWidget(Command1);
    row->addStretch();
    row->addWidget(cmdOk);
    row->addWidget(cmdCancel);
    lay->addLayout(row);
    resize(460, 420);

    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &i) { lblFolder->setText(withSlash(m_model.filePath(i))); });
    connect(Command1, &QPushButton::clicked, this, [this] {
        frmMakePath->Text1->clear();
        frmMakePath->open();
    });
    connect(cmdOk, &QPushButton::clicked, this, [this] {
        emit chosen(folderText());
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FolderDialog::start(const QString &title, const QString &explanation, const QString &folder)
{
    setWindowTitle(title);
    lblExplain->setText(explanation);
    setFolder(folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder);
}

void FolderDialog::setFolder(const QString &folder)
{
    const QModelIndex i = m_model.index(QDir::cleanPath(folder));
    lblFolder->setText(withSlash(QDir::cleanPath(folder)));
    if (!i.isValid()) return;
    Dir1->setCurrentIndex(i);
    Dir1->scrollTo(i);
}

} // namespace vt
