#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace vorn {

// Tells when the page's renderer has stopped answering. The engine reports no hang, so the page
// asks the renderer a trivial question now and then (a ping) and tells this class which pings
// came back; a renderer that answers none for `answerWithin`, or none within `demandWithin` of
// the candidate asking for something (a reload key), is overdue. Any answer counts, not only
// the latest: a ping sent while the main frame changes hands can go unanswered for good.
// Display-free; the caller gives the time, so tests need no clock. One thread.
class RendererWatchdog {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    struct Timing {
        std::chrono::milliseconds pingEvery{1000};
        std::chrono::milliseconds answerWithin{10000};
        std::chrono::milliseconds demandWithin{1000};
    };

    RendererWatchdog() = default;
    explicit RendererWatchdog(Timing timing) : m_timing(timing) {}

    const Timing& GetTiming() const { return m_timing; }

    // Called every `pingEvery` while the renderer can answer: the ping to send now (never 0).
    std::uint64_t Tick(TimePoint now);
    // The candidate asked for something only a live renderer carries out: it must answer within
    // `demandWithin`. The ping to send now.
    std::uint64_t Demand(TimePoint now);
    // A ping came back. Answers to pings sent before the last Restart do not count.
    void Answered(std::uint64_t ping);
    // The renderer showed some other sign of life (a load began or ended): the wait starts again.
    void Alive();
    // The renderer cannot answer now and is not to be judged (it died, a dialog of the page keeps
    // it waiting for the candidate), or another renderer took over: everything outstanding is
    // forgotten.
    void Restart();

    // Whether the renderer failed to answer in time.
    bool Overdue(TimePoint now) const;
    // How long the renderer has been waited for; zero when nothing is outstanding.
    std::chrono::milliseconds Waited(TimePoint now) const;

private:
    Timing m_timing;
    std::uint64_t m_lastPing = 0;
    // Pings up to this one were sent before the last Restart.
    std::uint64_t m_forgottenUpTo = 0;
    // When the oldest ping still unanswered was sent (none: nothing outstanding).
    std::optional<TimePoint> m_waitingSince;
    std::optional<TimePoint> m_demandedBy;
    std::optional<TimePoint> m_lastTick;
};

}  // namespace vorn
