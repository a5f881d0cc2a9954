#pragma once
// What the core asks of a person: messages, questions and the folder picker. None of them
// waits: a message is shown and the caller goes on; a question's answer comes back later,
// from the event loop, and is dropped when the object that asked is gone by then. So no
// question runs an event loop of its own inside half-done work.
// The widget layer answers with real dialogs; the headless build logs and takes defaults.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace vt {

class Prompter {
public:
    using Answer = std::function<void(bool)>;
    using Chosen = std::function<void(const QString &)>;   // empty: cancelled
    virtual ~Prompter() = default;
    virtual void message(const QString &text) = 0;
    // `asker` owns the answer: it is not called once the asker is destroyed.
    virtual void askYesNo(const QString &text, QObject *asker, Answer answer) = 0;
    virtual void askOkCancel(const QString &text, QObject *asker, Answer answer) = 0;
    virtual void pickFolder(const QString &title, const QString &explanation, const QString &start, QObject *asker,
                            Chosen chosen) = 0;
};

// Answers nothing interactively: messages are kept (and can be read back), questions get
// the given default answer, folder pickers are cancelled. The answer comes at once, or,
// when deferred, only when answerPending() is called, as a person answers while the event
// loop goes on.
class QuietPrompter : public Prompter {
public:
    explicit QuietPrompter(bool answer = false) : m_answer(answer) {}
    void message(const QString &text) override { messages << text; }
    void askYesNo(const QString &text, QObject *asker, Answer answer) override { ask(text, asker, std::move(answer)); }
    void askOkCancel(const QString &text, QObject *asker, Answer answer) override { ask(text, asker, std::move(answer)); }
    void pickFolder(const QString &title, const QString &, const QString &, QObject *asker, Chosen chosen) override
    {
        folderPicks << title;
        hold(asker, [chosen = std::move(chosen)](bool) { chosen({}); });
    }
    void setAnswer(bool a) { m_answer = a; }
    void setDeferred(bool d) { m_deferred = d; }
    // Answers the questions asked so far with the current answer; returns how many were
    // still wanted by their askers.
    int answerPending()
    {
        auto held = std::move(m_pending);
        m_pending.clear();
        int n = 0;
        for (auto &[asker, answer] : held)
            if (asker) {
                ++n;
                answer(m_answer);
            }
        return n;
    }
    qsizetype pendingCount() const { return qsizetype(m_pending.size()); }
    QStringList messages, questions, folderPicks;

private:
    void ask(const QString &text, QObject *asker, Answer answer)
    {
        questions << text;
        hold(asker, std::move(answer));
    }
    void hold(QObject *asker, Answer answer)
    {
        if (m_deferred) m_pending.emplace_back(QPointer<QObject>(asker), std::move(answer));
        else answer(m_answer);
    }
    bool m_answer;
    bool m_deferred = false;
    std::vector<std::pair<QPointer<QObject>, Answer>> m_pending;
};

} // namespace vt
