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

void WidgetPrompter::message(const QString &text)
{
    QMessageBox::information(m_parent, QApplication::applicationName(), boxText(text));
}

bool WidgetPrompter::askYesNo(const QString &text)
{
    return QMessageBox::question(m_parent, QApplication::applicationName(), boxText(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool WidgetPrompter::askOkCancel(const QString &text)
{
    return QMessageBox::warning(m_parent, QApplication::applicationName(), boxText(text),
                                QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

QString WidgetPrompter::pickFolder(const QString &title, const QString &explanation, const QString &start)
{
    FolderDialog d(m_parent);
    d.frmMakePath->message = [this](const QString &t) { message(t); };
    d.start(title, explanation, start);
    if (d.exec() != QDialog::Accepted) return {};
    return d.folderText();
}

} // namespace vt
