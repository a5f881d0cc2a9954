#include "WidgetPrompter.h"
#include <QApplication>
#include "FolderDialog.h"
#include <QMessageBox>

namespace vt {

static QString boxText(const QString &t)
{
    QString s = t;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    return s;
}

static QMessageBox *box(QWidget *parent, QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButtons buttons)
{
    auto *b = new QMessageBox(icon, QApplication::applicationName(), boxText(text), buttons, parent);
    b->setAttribute(Qt::WA_DeleteOnClose);
    return b;
}

void WidgetPrompter::message(const QString &text)
{
    // An unattended run can say the same thing many times; one box of it is enough.
    if (m_showing.contains(text)) return;
    m_showing << text;
    QMessageBox *b = box(m_parent, QMessageBox::Information, text, QMessageBox::Ok);
    QObject::connect(b, &QObject::destroyed, &m_guard, [this, text] { m_showing.removeOne(text); });
    b->open();
}

void WidgetPrompter::ask(const QString &text, bool warning, QObject *asker, Answer answer)
{
    QMessageBox *b = box(m_parent, warning ? QMessageBox::Warning : QMessageBox::Question, text,
                         warning ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Yes | QMessageBox::No);
    QPointer<QObject> who(asker);
    QObject::connect(b, &QMessageBox::finished, b, [b, who, answer = std::move(answer)](int) {
        const QMessageBox::StandardButton pressed = b->standardButton(b->clickedButton());
        if (who) answer(pressed == QMessageBox::Yes || pressed == QMessageBox::Ok);
    });
    b->open();
}

void WidgetPrompter::askYesNo(const QString &text, QObject *asker, Answer answer) { ask(text, false, asker, std::move(answer)); }

void WidgetPrompter::askOkCancel(const QString &text, QObject *asker, Answer answer) { ask(text, true, asker, std::move(answer)); }

void WidgetPrompter::pickFolder(const QString &title, const QString &explanation, const QString &start, QObject *asker,
                                Chosen chosen)
{
    auto *d = new FolderDialog(m_parent);
    d->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QObject> self(&m_guard);
    d->frmMakePath->message = [this, self](const QString &t) {
        if (self) message(t);
    };
    d->start(title, explanation, start);
    QPointer<QObject> who(asker);
    QObject::connect(d, &QDialog::finished, d, [d, who, chosen = std::move(chosen)](int result) {
        if (who) chosen(result == QDialog::Accepted ? d->folderText() : QString());
    });
    d->open();
}

} // namespace vt
