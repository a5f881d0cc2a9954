#include "SetupWindow.h"
#include "Named.h"
#include "setup/SetupAssistant.h"
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QVBoxLayout>

namespace vt {

namespace {

QString withSlash(const QString &p) { return p.endsWith(u'/') ? p : p + u'/'; }

QLabel *text(QLayout *lay, const QString &t)
{
    auto *l = new QLabel(t);
    l->setWordWrap(true);
    lay->addWidget(l);
    return l;
}

// Two choices of which the first is taken unless the user says otherwise.
void choices(QLayout *lay, std::array<QRadioButton *, 2> &opt, const char *name, const char *a, const char *b)
{
    opt[0] = named<QRadioButton>(name, QString::fromUtf8(a));
    opt[1] = named<QRadioButton>(name, QString::fromUtf8(b));
    opt[0]->setChecked(true);
    lay->addWidget(opt[0]);
    lay->addWidget(opt[1]);
}

} // namespace

// A round-headed guide with a headset, waving: drawn on a 96 x 128 grid.
QPixmap guidePicture(int height)
{
    const qreal s = height / 128.0;
    QPixmap pm(QSize(int(96 * s), height));
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(s, s);
    const QColor body(0x2f, 0x6f, 0xb3), face(0xf4, 0xd3, 0xae), dark(0x22, 0x2a, 0x35);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(22, 66, 52, 56), 16, 16);                // body
    QPainterPath arm;
    arm.moveTo(70, 78);
    arm.quadTo(90, 60, 86, 38);
    p.setPen(QPen(body, 9, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arm);                                                     // the waving arm
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawEllipse(QPointF(86, 34), 7, 7);                                // hand
    p.drawEllipse(QPointF(48, 40), 26, 26);                              // head
    p.setBrush(dark);
    p.drawEllipse(QPointF(39, 36), 3.5, 4.5);
    p.drawEllipse(QPointF(57, 36), 3.5, 4.5);                            // eyes
    p.setPen(QPen(dark, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(37, 38, 22, 16), 200 * 16, 140 * 16);               // smile
    p.setPen(QPen(dark, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(20, 10, 56, 50), 20 * 16, 140 * 16);                // headset band
    p.setPen(Qt::NoPen);
    p.setBrush(dark);
    p.drawRoundedRect(QRectF(17, 32, 8, 16), 3, 3);
    p.drawRoundedRect(QRectF(71, 32, 8, 16), 3, 3);                      // ear pieces
    p.setPen(QPen(dark, 2));
    p.drawLine(QPointF(21, 48), QPointF(34, 58));                        // microphone
    p.setBrush(QColor(0xe0, 0x3c, 0x3c));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(48, 86), 6, 6);                                // badge
    return pm;
}

QWidget *SetupWindow::page(int n)
{
    picF[size_t(n)] = named<QWidget>("picF");
    frames->addWidget(picF[size_t(n)]);
    return picF[size_t(n)];
}

SetupWindow::SetupWindow(SetupAssistant &assistant, QWidget *parent) : QDialog(parent), m_a(assistant)
{
    setObjectName(QStringLiteral("frmVTa"));
    setWindowTitle(QStringLiteral("Vantrel Setup Assistant"));
    Picture1 = named<QLabel>("Picture1", this);
    Picture1->setPixmap(guidePicture(128));
    Picture1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    lblVanty1 = named<QLabel>("lblVanty1", this);
    lblVanty1->setWordWrap(true);
    lblVanty1->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    lblVanty1->setMinimumWidth(180);
    frames = new QStackedWidget(this);

    {   // 0
        auto *l = new QVBoxLayout(page(0));
        text(l, QStringLiteral("Are you using AOL or MSN for newsgroup access?"));
        choices(l, optF1, "optF1", "No.  Let's move on.", "I am using AOL or MSN.");
        l->addStretch();
        text(l, QStringLiteral("Tip: Select your answer, then click the 'Next' button."));
    }
    {   // 1
        auto *l = new QVBoxLayout(page(1));
        text(l, QStringLiteral("AOL does not have an NNTP news server.  The thing they call a news server will only work with the news reader they give you."));
        text(l, QStringLiteral("MSN requires SPA (secure password authentication) which VT does not yet support."));
        text(l, QStringLiteral("You will need an account on an NNTP news server to use Vantrel."));
        auto *row = new QHBoxLayout;
        Label9 = named<QLabel>("Label9", QStringLiteral("<a href=\"#\">NNTP services</a>"));
        Label9->installEventFilter(this);
        Label9->setCursor(Qt::PointingHandCursor);
        row->addWidget(Label9);
        row->addWidget(new QLabel(QStringLiteral("for more info.")));
        row->addStretch();
        l->addLayout(row);
        l->addStretch();
    }
    {   // 2
        auto *l = new QGridLayout(page(2));
        txtServerName = named<QLineEdit>("txtServerName");
        txtPort = named<QLineEdit>("txtPort", QStringLiteral("119"));
        txtPort->setMaximumWidth(80);
        l->addWidget(new QLabel(QStringLiteral("News Server:")), 0, 0);
        l->addWidget(txtServerName, 0, 1, 1, 2);
        l->addWidget(new QLabel(QStringLiteral("Port:")), 1, 0);
        l->addWidget(txtPort, 1, 1);
        l->addWidget(new QLabel(QStringLiteral("(NNTP default is 119)")), 1, 2);
        chkSSL = named<QCheckBox>("chkSSL", QStringLiteral("Use SSL/TLS (most servers today; port 563)"));
        l->addWidget(chkSSL, 3, 0, 1, 3);
        auto *e = new QLabel(QStringLiteral("The name of the news server usually comes with the account information of your "
                                            "news provider (often 'news.' followed by the provider's domain).  Leave the port "
                                            "at 119 unless you were told otherwise."));
        e->setWordWrap(true);
        l->addWidget(e, 2, 0, 1, 3);
        l->setRowStretch(4, 1);
        l->setColumnStretch(2, 1);
    }
    {   // 3
        auto *l = new QGridLayout(page(3));
        chkAuth = named<QCheckBox>("chkAuth", QStringLiteral("My server requires authentication."));
        txtUserName = named<QLineEdit>("txtUserName");
        txtPassword = named<QLineEdit>("txtPassword");
        txtPassword->setEchoMode(QLineEdit::Password);
        chkSavePassword = named<QCheckBox>("chkSavePassword", QStringLiteral("Save Password"));
        lblLob[0] = named<QLabel>("lblLob", QStringLiteral("User Name:"));
        lblLob[1] = named<QLabel>("lblLob", QStringLiteral("Password:"));
        l->addWidget(chkAuth, 0, 0, 1, 2);
        l->addWidget(lblLob[0], 1, 0);
        l->addWidget(txtUserName, 1, 1);
        l->addWidget(lblLob[1], 2, 0);
        l->addWidget(txtPassword, 2, 1);
        l->addWidget(chkSavePassword, 3, 1);
        l->setRowStretch(4, 1);
    }
    {   // 4
        auto *l = new QVBoxLayout(page(4));
        const char *steps[] = {"Logged on", "Group joined (alt.test)", "Article header retrieved (random article)", "Logoff successful"};
        for (size_t i = 0; i < lblTst.size(); ++i) {
            lblTst[i] = named<QLabel>("lblTst", QStringLiteral("\u2714 ") + QString::fromLatin1(steps[i]));
            l->addWidget(lblTst[i]);
        }
        lblError = named<QLabel>("lblError");
        lblError->setWordWrap(true);
        l->addSpacing(12);
        l->addWidget(lblError);
        l->addStretch();
    }
    {   // 5
        auto *l = new QVBoxLayout(page(5));
        Drive1 = named<QComboBox>("Drive1");
        for (const QStorageInfo &v : QStorageInfo::mountedVolumes())
            if (v.isValid() && v.isReady()) Drive1->addItem(v.rootPath());
        m_dirs.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
        m_dirs.setRootPath(QStringLiteral("/"));
        Dir1 = named<QTreeView>("Dir1");
        Dir1->setModel(&m_dirs);
        for (int c = 1; c < m_dirs.columnCount(); ++c) Dir1->hideColumn(c);
        Dir1->header()->hide();
        cmdNewFolder = named<QPushButton>("cmdNewFolder", QStringLiteral("New &Folder"));
        lblPath = named<QLabel>("lblPath");
        auto *top = new QHBoxLayout;
        top->addWidget(Drive1, 1);
        top->addWidget(cmdNewFolder);
        l->addLayout(top);
        l->addWidget(Dir1, 1);
        auto *cur = new QHBoxLayout;
        cur->addWidget(new QLabel(QStringLiteral("Current Selection:")));
        cur->addWidget(lblPath, 1);
        l->addLayout(cur);
    }
    {   // 6
        auto *l = new QVBoxLayout(page(6));
        choices(l, optUsePaths, "optUsePaths", "Yes, I would like for VT to create sub-folders.", "No, download everything to the main folder.");
        text(l, QStringLiteral("What this means is that when VT downloads a file, it will be placed in a sub-folder under the "
                               "'base download' folder named the same as the newsgroup that the file came from."));
        l->addStretch();
    }
    {   // 7
        auto *l = new QVBoxLayout(page(7));
        choices(l, optGetGroups, "optGetGroups", "Yes, let's download them now.",
                "No, I'll type in the group names I want, use the newsgroup search engines, or get them later.");
        text(l, QStringLiteral("It can take several minutes to get the group list.  Since most servers carry over 20,000 groups, "
                               "the list will probably be at least a megabyte in size.  If you are anxious to get started or would "
                               "rather just type in the newsgroup names, just do this later."));
        l->addStretch();
    }
    {   // 8
        auto *l = new QVBoxLayout(page(8));
        cmdDlGroups = named<QPushButton>("cmdDlGroups", QStringLiteral("GO"));
        lblDLG = named<QLabel>("lblDLG");
        lblDLG->setWordWrap(true);
        l->addWidget(cmdDlGroups, 0, Qt::AlignLeft);
        l->addWidget(lblDLG);
        l->addStretch();
    }
    {   // 9
        auto *l = new QVBoxLayout(page(9));
        for (QLabel *&f : lblFinal) {
            f = named<QLabel>("lblFinal");
            f->setWordWrap(true);
            l->addWidget(f);
        }
        l->addStretch();
    }
    {   // 10
        auto *l = new QVBoxLayout(page(10));
        text(l, QStringLiteral("To download headers, press the scan button on the main screen.  As VT does a scan, articles will "
                               "appear in the main screen 'headers' window."));
        text(l, QStringLiteral("Select articles you want to download and click the 'add to batch' button to add them to the batch."));
        text(l, QStringLiteral("Click 'view batch' and hit the 'download' button to begin the download."));
        l->addStretch();
    }
    {   // 11
        auto *l = new QVBoxLayout(page(11));
        text(l, QStringLiteral("Just one last thing to do, which is for you to select the newsgroups you wish to scan.  I will "
                               "close myself and load the Add Groups window when you click the Done! button below."));
        cmdDone = named<QPushButton>("cmdDone", QStringLiteral("Done!"));
        l->addWidget(cmdDone, 0, Qt::AlignLeft);
        l->addStretch();
    }

    cmdBack = named<QPushButton>("cmdBack", QStringLiteral(" &Back"), this);
    cmdNext = named<QPushButton>("cmdNext", QStringLiteral("&Next \u00bb"), this);
    cmdNext->setDefault(true);
    cmdCancel = named<QPushButton>("cmdCancel", QStringLiteral("Cancel"), this);
    auto *lay = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    auto *guide = new QVBoxLayout;
    guide->addWidget(Picture1);
    guide->addWidget(lblVanty1, 1);
    top->addLayout(guide);
    top->addWidget(frames, 1);
    lay->addLayout(top, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdBack);
    buttons->addWidget(cmdNext);
    buttons->addSpacing(16);
    buttons->addWidget(cmdCancel);
    lay->addLayout(buttons);
    resize(640, 420);

    // Controls into the engine.
    connect(optF1[1], &QRadioButton::toggled, this, [this](bool on) { m_a.aolOrMsn = on; });
    connect(optUsePaths[0], &QRadioButton::toggled, this, [this](bool on) { m_a.usePaths = on; });
    connect(optGetGroups[0], &QRadioButton::toggled, this, [this](bool on) { m_a.getGroups = on; });
    connect(txtServerName, &QLineEdit::textChanged, this, [this](const QString &t) { m_a.setServerName(t); });
    connect(txtPort, &QLineEdit::textChanged, this, [this](const QString &t) { m_a.port = t; });
    connect(txtUserName, &QLineEdit::textChanged, this, [this](const QString &t) { m_a.userName = t; });
    connect(txtPassword, &QLineEdit::textChanged, this, [this](const QString &t) { m_a.password = t; });
    connect(chkSavePassword, &QCheckBox::toggled, this, [this](bool on) { m_a.savePassword = on; });
    connect(chkSSL, &QCheckBox::clicked, this, [this](bool on) { m_a.setUseSsl(on); });
    connect(chkAuth, &QCheckBox::toggled, this, [this](bool on) {
        m_a.auth = on;
        refresh();
    });
    connect(Drive1, &QComboBox::textActivated, this, [this](const QString &root) { setFolder(root); });
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &i) { m_a.setPath(withSlash(m_dirs.filePath(i))); });
    connect(cmdNext, &QPushButton::clicked, this, [this] { m_a.next(); });
    connect(cmdBack, &QPushButton::clicked, this, [this] { m_a.back(); });
    connect(cmdDlGroups, &QPushButton::clicked, this, [this] { m_a.startGroupDownload(); });
    connect(&m_a, &SetupAssistant::changed, this, &SetupWindow::refresh);
    m_a.port = txtPort->text();
    refresh();
}

void SetupWindow::start()
{
    m_a.load();
    setFolder(m_a.path.isEmpty() ? QDir::homePath() : m_a.path);
    show();
    raise();
}

void SetupWindow::setFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    const QModelIndex i = m_dirs.index(clean);
    if (i.isValid()) {
        Dir1->setCurrentIndex(i);
        Dir1->scrollTo(i);
    }
    m_a.setPath(withSlash(clean));
    // The drive list follows: the deepest mount point that holds the folder.
    int best = -1;
    for (int d = 0; d < Drive1->count(); ++d)
        if (withSlash(clean).startsWith(withSlash(Drive1->itemText(d))) && (best < 0 || Drive1->itemText(d).size() > Drive1->itemText(best).size()))
            best = d;
    if (best >= 0) {
        const QSignalBlocker b(Drive1);
        Drive1->setCurrentIndex(best);
    }
}

// The engine's state onto the controls.
void SetupWindow::refresh()
{
    frames->setCurrentIndex(m_a.currentPage);
    lblVanty1->setText(QString(m_a.vanty).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    cmdBack->setEnabled(m_a.backEnabled);
    cmdNext->setEnabled(m_a.nextEnabled);
    if (!m_a.nextCaption.isEmpty()) cmdNext->setText(m_a.nextCaption);
    auto setText = [](QLineEdit *e, const QString &t) {
        if (e->text() == t) return;
        const QSignalBlocker b(e);
        e->setText(t);
    };
    setText(txtServerName, m_a.serverName);
    setText(txtPort, m_a.port);
    setText(txtUserName, m_a.userName);
    setText(txtPassword, m_a.password);
    {
        const QSignalBlocker b1(chkAuth), b2(chkSavePassword), b3(chkSSL);
        chkSSL->setChecked(m_a.useSsl);
        chkAuth->setChecked(m_a.auth);
        chkSavePassword->setChecked(m_a.savePassword);
    }
    for (QWidget *w : {static_cast<QWidget *>(txtUserName), static_cast<QWidget *>(txtPassword),
                       static_cast<QWidget *>(lblLob[0]), static_cast<QWidget *>(lblLob[1]), static_cast<QWidget *>(chkSavePassword)})
        w->setEnabled(m_a.auth);
    for (size_t i = 0; i < lblTst.size(); ++i) lblTst[i]->setVisible(m_a.tstShown[i]);
    lblError->setText(m_a.errorText);
    lblError->setVisible(m_a.errorShown);
    lblPath->setText(m_a.path);
    lblDLG->setText(m_a.dlgText);
    cmdDlGroups->setEnabled(!m_a.downloadBusy);
    for (size_t i = 0; i < lblFinal.size(); ++i) lblFinal[i]->setText(QString(m_a.finalLines[i]).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (m_a.currentPage == 2 && isVisible() && !txtServerName->hasFocus() && m_a.serverName.isEmpty()) txtServerName->setFocus();
}

bool SetupWindow::eventFilter(QObject *o, QEvent *e)
{
    if (o == Label9 && e->type() == QEvent::MouseButtonRelease) {
        emit helpLinkClicked();
        return true;
    }
    return QDialog::eventFilter(o, e);
}

} // namespace vt
