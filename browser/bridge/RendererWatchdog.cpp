#include "browser/bridge/RendererWatchdog.h"

namespace vorn {

std::uint64_t RendererWatchdog::Tick(TimePoint now) {
    // Ticks this far apart mean this thread was held up itself (a slow file system, a suspended
    // machine): the answers that came meanwhile may still be waiting behind the tick, so the
    // renderer is not blamed for that time.
    if (m_lastTick && now - *m_lastTick > 3 * m_timing.pingEvery)
        Alive();
    m_lastTick = now;
    if (!m_waitingSince)
        m_waitingSince = now;
    return ++m_lastPing;
}

std::uint64_t RendererWatchdog::Demand(TimePoint now) {
    const TimePoint by = now + m_timing.demandWithin;
    if (!m_demandedBy || by < *m_demandedBy)
        m_demandedBy = by;
    if (!m_waitingSince)
        m_waitingSince = now;
    return ++m_lastPing;
}

void RendererWatchdog::Answered(std::uint64_t ping) {
    if (ping <= m_forgottenUpTo || ping > m_lastPing)
        return;
    Alive();
}

void RendererWatchdog::Alive() {
    m_waitingSince.reset();
    m_demandedBy.reset();
}

void RendererWatchdog::Restart() {
    m_forgottenUpTo = m_lastPing;
    m_lastTick.reset();
    Alive();
}

bool RendererWatchdog::Overdue(TimePoint now) const {
    if (!m_waitingSince)
        return false;
    return (m_demandedBy && now >= *m_demandedBy) || now - *m_waitingSince >= m_timing.answerWithin;
}

std::chrono::milliseconds RendererWatchdog::Waited(TimePoint now) const {
    if (!m_waitingSince)
        return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - *m_waitingSince);
}

}  // namespace vorn
