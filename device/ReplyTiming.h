#pragma once

#include <algorithm>
#include <array>
#include <chrono>

// How soon the tap answers one kind of request, from its latest answers that came alone. A
// frame that comes well before that cannot be the tap's own answer to the request just sent: it
// is an earlier answer repeated, by the line or by someone on the monitored network, and the
// tap's own answer is still on its way. From a tap that does not repeat the request's address
// nothing else tells the two apart, and without this a replay that comes first and alone would
// pass for the answer.
//
// The median of the last Kept answers, so that a few replays learnt by mistake (one that came
// alone because the tap's own answer was lost) do not move it; and an answer counts as early
// only by a clear margin, so that an ordinary spread of the tap's timing costs nothing.
class ReplyTiming
{
public:
    using Micros = std::chrono::microseconds;
    static constexpr int Kept = 15;
    // Below this, and below three quarters of the usual time, an answer is early.
    static constexpr Micros Margin{250};

    void learn(Micros took)
    {
        m_samples[static_cast<size_t>(m_next)] = took;
        m_next = (m_next + 1) % Kept;
        m_count = std::min(m_count + 1, Kept);
    }

    // The median of what was learnt; zero while nothing was.
    Micros usual() const
    {
        if (m_count == 0)
            return Micros::zero();
        std::array<Micros, Kept> sorted = m_samples;
        const auto end = sorted.begin() + m_count;
        std::nth_element(sorted.begin(), sorted.begin() + m_count / 2, end);
        return sorted[static_cast<size_t>(m_count / 2)];
    }

    bool early(Micros took) const
    {
        const Micros typical = usual();
        return took < std::min(typical * 3 / 4, typical - Margin);
    }

    // How long after the send to keep listening for the tap's own answer behind an early one.
    Micros listenFor() const { return usual() * 2 + Margin; }

private:
    std::array<Micros, Kept> m_samples{};
    int m_next = 0;
    int m_count = 0;
};
