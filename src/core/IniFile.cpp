#include "IniFile.h"
#include <algorithm>
#include "Text.h"
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace vt {

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

bool IniFile::load()
{
    m_sections.clear();
    QFile f(m_path);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) return false;
    parse(f.readAll());
    return true;
}

static QString decodeText(const QByteArray &data)
{
    // Files of older versions and other tools are in a single-byte code page; our own
    // are UTF-8. Take UTF-8 when it decodes cleanly.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(data);
    if (!utf8.hasError()) return s;
    return QString::fromLatin1(data);
}

void IniFile::parse(const QByteArray &data)
{
    m_sections.clear();
    m_sections.push_back(Section{});
    const QString text = decodeText(data);
    const auto lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString raw = lines[i];
        if (raw.endsWith(u'\r')) raw.chop(1);
        if (i == lines.size() - 1 && raw.isEmpty()) break;
        const QString t = raw.trimmed();
        if (t.startsWith(u'[') && t.contains(u']')) {
            Section s;
            s.name = t.mid(1, t.indexOf(u']') - 1).trimmed();
            m_sections.push_back(std::move(s));
            continue;
        }
        Line l;
        l.raw = raw;
        const qsizetype eq = raw.indexOf(u'=');
        if (!t.startsWith(u';') && eq > 0) {
            l.key = raw.left(eq).trimmed();
            l.value = raw.mid(eq + 1);
        }
        m_sections.back().lines.push_back(std::move(l));
    }
}

QByteArray IniFile::serialize() const
{
    QString out;
    for (const Section &s : m_sections) {
        if (!s.name.isEmpty() || &s != &m_sections.front())
            out += QLatin1Char('[') + s.name + QStringLiteral("]\r\n");
        for (const Line &l : s.lines) {
            if (l.key.isEmpty()) out += l.raw + QStringLiteral("\r\n");
            else out += l.key + QLatin1Char('=') + l.value + QStringLiteral("\r\n");
        }
    }
    return out.toUtf8();
}

bool IniFile::save(QString *error) const
{
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QByteArray data = serialize();
    if (f.write(data) != data.size() || !f.commit()) {
        if (error) *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    return true;
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    for (Section &s : m_sections)
        if (!s.name.isEmpty() && s.name.compare(name, Qt::CaseInsensitive) == 0) return &s;
    return nullptr;
}

const IniFile::Section *IniFile::findSection(const QString &name) const
{
    return const_cast<IniFile *>(this)->findSection(name);
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s) return std::nullopt;
    for (const Line &l : s->lines) {
        if (l.key.isEmpty() || l.key.compare(key, Qt::CaseInsensitive) != 0) continue;
        QString v = l.value.trimmed();
        if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"')) v = v.mid(1, v.size() - 2);
        if (v.isEmpty()) return std::nullopt;
        return v;
    }
    return std::nullopt;
}

void IniFile::clearSection(const QString &section)
{
    if (Section *s = findSection(section))
        s->lines.erase(std::remove_if(s->lines.begin(), s->lines.end(), [](const Line &l) { return !l.key.isEmpty(); }), s->lines.end());
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    if (m_sections.empty()) m_sections.push_back(Section{});
    Section *s = findSection(section);
    if (!s) {
        Section ns;
        ns.name = section;
        m_sections.push_back(std::move(ns));
        s = &m_sections.back();
    }
    for (Line &l : s->lines) {
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0) {
            l.value = value;
            return;
        }
    }
    // New keys go after the last key line, before trailing blank lines.
    auto pos = s->lines.end();
    while (pos != s->lines.begin() && (pos - 1)->key.isEmpty() && (pos - 1)->raw.trimmed().isEmpty()) --pos;
    Line l;
    l.key = key;
    l.value = value;
    s->lines.insert(pos, std::move(l));
}

} // namespace vt
