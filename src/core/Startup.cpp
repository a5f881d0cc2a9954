#include "Startup.h"
#include <exception>

namespace vt {

bool StartupSequence::plug(const QString &id, std::function<void()> action)
{
    for (Step &s : m_steps)
        if (s.id == id) {
            s.actions.push_back(std::move(action));
            return true;
        }
    return false;
}

void StartupSequence::run(const Show &show, const OnError &onError) const
{
    int progress = 0;
    for (const Step &s : m_steps) {
        if (s.progressBefore >= 0) progress = s.progressBefore;
        if (show) show(s.status, progress);
        for (const auto &a : s.actions) {
            try {
                a();
            } catch (const std::exception &e) {
                if (onError) onError(QString::fromLocal8Bit(e.what()));
            } catch (...) {
                if (onError) onError(QStringLiteral("unknown error"));
            }
        }
        if (s.progressAfter >= 0) {
            progress = s.progressAfter;
            if (show) show(QString(), progress);
        }
    }
}

} // namespace vt
