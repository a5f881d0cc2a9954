#include "WidgetPrompter.h"
#include <QApplication>
#include <QFileDialog>
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
    QFileDialog d(m_parent, title + QStringLiteral(" - ") + explanation, start);
    d.setFileMode(QFileDialog::Directory);
    d.setOption(QFileDialog::ShowDirsOnly);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return {};
    return d.selectedFiles().first();
}

} // namespace vt
