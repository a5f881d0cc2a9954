#pragma once
// What the core asks of a person: message boxes, questions and the modal folder picker.
// The widget layer answers with real dialogs; the headless build logs and takes defaults.
#include <QString>
#include <QStringList>

namespace vt {

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void message(const QString &text) = 0;
    virtual bool askYesNo(const QString &text) = 0;
    virtual bool askOkCancel(const QString &text) = 0;
    // Modal folder dialog; returns the chosen folder or an empty text when cancelled.
    virtual QString pickFolder(const QString &title, const QString &explanation, const QString &start) = 0;
};

// Answers nothing interactively: messages are kept (and can be read back), questions get
// the given default answer, folder pickers are cancelled.
class QuietPrompter : public Prompter {
public:
    explicit QuietPrompter(bool answer = false) : m_answer(answer) {}
    void message(const QString &text) override { messages << text; }
    bool askYesNo(const QString &text) override { questions << text; return m_answer; }
    bool askOkCancel(const QString &text) override { questions << text; return m_answer; }
    QString pickFolder(const QString &title, const QString &, const QString &) override
    {
        folderPicks << title;
        return {};
    }
    void setAnswer(bool a) { m_answer = a; }
    QStringList messages, questions, folderPicks;

private:
    bool m_answer;
};

} // namespace vt
