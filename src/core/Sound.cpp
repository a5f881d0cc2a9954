#include "Sound.h"
#include <QDir>
#include <QFileInfo>

namespace vt {

void Sounds::PlaySound(const QString &name)
{
    if (!enabled) return;
    const QString path = m_folder + name;
    if (!QFileInfo::exists(path)) return;
    if (m_played.size() > 200) m_played.removeFirst();
    m_played << name;
    if (m_backend) m_backend(path);
}

void Sounds::PrepareSoundFolder()
{
    QDir d(m_folder);
    if (!d.exists() || d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty()) enabled = false;
}

} // namespace vt
