#include "OperationProgress.h"

#include <algorithm>
#include <utility>

namespace {
constexpr long long Percent = 100;
}

WeightedProgress::WeightedProgress(ProgressPlan plan) : m_plan(std::move(plan)) {}

OperationProgress WeightedProgress::advance(ProgressStage stage, int done, int total)
{
    OperationProgress progress{m_percent, stage, done, total};
    long long all = 0, before = -1, weight = 0;
    for (const StageWeight &planned : m_plan) {
        if (planned.stage == stage && before < 0) {
            before = all;
            weight = std::max(planned.weight, 0);
        }
        all += std::max(planned.weight, 0);
    }
    if (before < 0 || all <= 0 || total <= 0)
        return progress;

    // Truncated, so that 100 is only reached once the last step of the last stage is done.
    const long long steps = std::clamp(done, 0, total);
    const long long percent = Percent * (before * total + weight * steps) / (all * total);
    m_percent = std::max(m_percent, static_cast<int>(std::min(percent, Percent)));
    progress.percent = m_percent;
    return progress;
}
