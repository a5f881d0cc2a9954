#include "ExitDialog.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vt {

ExitDialog::ExitDialog(AppCore &core, QWidget *parent) : QDialog(parent), m_core(core)
{
    setObjectName(QStringLiteral("frmExit"));
    setWindowTitle(QStringLiteral("Exit"));
    auto *text = new QLabel(QStringLiteral("The header database has changed since it was last saved."), this);
    chkSaveHeaders = new QCheckBox(QStringLiteral("Save headers"), this);
    chkSaveHeaders->setObjectName(QStringLiteral("chkSaveHeaders"));
    chkAlwaysSaveHeaders = new QCheckBox(QStringLiteral("Auto-Save headers on exit (do not prompt)"), this);
    chkAlwaysSaveHeaders->setObjectName(QStringLiteral("chkAlwaysSaveHeaders"));
    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *b = new QHBoxLayout;
    b->addStretch();
    b->addWidget(cmdOk);
    b->addWidget(cmdCancel);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(text);
    lay->addWidget(chkSaveHeaders);
    lay->addWidget(chkAlwaysSaveHeaders);
    lay->addLayout(b);

    connect(cmdOk, &QPushButton::clicked, this, [this] {
        hide();
        const bool save = chkSaveHeaders->isChecked();
        m_core.settings.chkAlwaysSaveHeaders = chkAlwaysSaveHeaders->isChecked();
        m_core.settingsFile.writeOptions({{QStringLiteral("chkSaveHeadersP"), save ? QStringLiteral("1") : QStringLiteral("0")},
                                          {QStringLiteral("chkAlwaysSaveHeaders"),
                                           chkAlwaysSaveHeaders->isChecked() ? QStringLiteral("1") : QStringLiteral("0")}});
        if (finalExit) finalExit(save);
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::hide);
}

void ExitDialog::prepare()
{
    // Without a choice saved yet the headers are kept: OK on a first exit never throws the
    // batch and the scanned headers away.
    const auto v = m_core.settingsFile.readOption(QStringLiteral("chkSaveHeadersP"));
    chkSaveHeaders->setChecked(!v || leadingInt(trimBlanks(*v)) != 0);
    chkAlwaysSaveHeaders->setChecked(m_core.settings.chkAlwaysSaveHeaders);
    m_core.sounds.PlaySound(QStringLiteral("vtv002.wav"));
}

} // namespace vt
