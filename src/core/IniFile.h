#pragma once
// INI reader and writer. Section and key names match without regard to case; values
// are stored as given (no quoting or escaping). Lines it does not understand, comments
// and other tools' sections are kept as they were. Saving goes through a temporary file
// renamed over the old one.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace vt {

class IniFile {
public:
    explicit IniFile(QString path = {});

    // Reads the file; a missing or unreadable file reads as empty. Returns false if it
    // existed but could not be read.
    bool load();
    bool save(QString *error = nullptr) const;

    // Value as stored, blanks trimmed at both ends, surrounding double quotes removed.
    // An absent key and an empty value both give nullopt ("not present").
    std::optional<QString> value(const QString &section, const QString &key) const;
    void setValue(const QString &section, const QString &key, const QString &value);
    // Drops a section's keys (its comments stay), so that it can be written afresh.
    void clearSection(const QString &section);

    QString path() const { return m_path; }
    void parse(const QByteArray &data);
    QByteArray serialize() const;

private:
    struct Line {
        QString raw;      // the line as read (for comments and unknown lines)
        QString key;      // empty for non key lines
        QString value;
    };
    struct Section {
        QString name;     // empty name = lines before the first section
        std::vector<Line> lines;
    };
    Section *findSection(const QString &name);
    const Section *findSection(const QString &name) const;

    QString m_path;
    std::vector<Section> m_sections;
};

} // namespace vt
