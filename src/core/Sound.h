#pragma once
// Sound events: short WAV files in the "sfx/" folder. Playing is asynchronous and done
// by a backend the program installs (Qt Multimedia in the app); the core decides what.
#include <QString>
#include <QStringList>
#include <functional>

namespace vt {

class Sounds {
public:
    explicit Sounds(QString folder) : m_folder(std::move(folder)) {}
    using Backend = std::function<void(const QString &file)>;
    void setBackend(Backend b) { m_backend = std::move(b); }

    bool enabled = false; // "chkSFX"

    void PlaySound(const QString &name);
    // At start-up: leave the option as loaded when the folder has entries, else off.
    void PrepareSoundFolder();
    QString folder() const { return m_folder; }
    // Files handed to the backend, newest last (kept for the about box and for tests).
    const QStringList &played() const { return m_played; }

private:
    QString m_folder;
    Backend m_backend;
    QStringList m_played;
};

} // namespace vt
