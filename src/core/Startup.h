#pragma once
// The fixed start-up order. Each step has its splash status text (empty: keep the last)
// and the progress value shown once it is done; subsystems plug their loaders in by name.
#include <QString>
#include <functional>
#include <vector>

namespace vt {

class StartupSequence {
public:
    struct Step {
        QString id;
        QString status;
        int progressBefore = -1;   // set before the step runs, -1 = unchanged
        int progressAfter = -1;    // set after it ran, -1 = unchanged
        std::vector<std::function<void()>> actions;
    };
    using Show = std::function<void(const QString &status, int progress)>;
    using OnError = std::function<void(const QString &what)>;

    void add(Step s) { m_steps.push_back(std::move(s)); }
    // Adds work to the step with that id (after what it already does).
    bool plug(const QString &id, std::function<void()> action);
    // Runs every step; an exception in one is reported and the next goes on.
    void run(const Show &show, const OnError &onError) const;
    const std::vector<Step> &steps() const { return m_steps; }

private:
    std::vector<Step> m_steps;
};

} // namespace vt
