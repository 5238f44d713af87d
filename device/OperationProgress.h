#pragma once

#include <vector>

// The stages of a long operation on a tap, in the order they run.
enum class ProgressStage {
    Erase,  // clearing the flash the firmware goes into
    Pages,  // the firmware, page by page
    Commit,  // closing the programming run
};

// How much of the whole operation one stage stands for, roughly by the time it takes.
struct StageWeight
{
    ProgressStage stage;
    int weight;
};
using ProgressPlan = std::vector<StageWeight>;

// Where a long operation stands: the whole of it as one figure, and the step under way.
struct OperationProgress
{
    int percent = 0;  // 0 to 100, never falling
    ProgressStage stage = ProgressStage::Erase;
    int done = 0;  // steps of the stage complete
    int total = 0;  // steps in the stage
};

// Folds the steps of each stage into one 0-to-100 figure: every stage of the plan fills its
// weight's share in proportion to its steps, after the shares of the stages before it. A caller
// that adds work of its own after the device's (a check once it is done) appends its stages to
// the device's plan before it starts. The
// figure says how far the operation has gone, never how it ended: an operation whose last
// step was refused may stand at 100, and only its outcome tells.
class WeightedProgress
{
public:
    explicit WeightedProgress(ProgressPlan plan);

    // `done` of `total` steps of `stage` are complete. A stage outside the plan, or one of no
    // steps, leaves the figure where it was; a stage reported again from its start does not
    // take it back.
    OperationProgress advance(ProgressStage stage, int done, int total);

private:
    ProgressPlan m_plan;
    int m_percent = 0;
};
