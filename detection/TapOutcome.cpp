#include "TapOutcome.h"

TapOutcome TapOutcome::of(Action action, Result result, const DeviceFailure &failure)
{
    TapOutcome outcome;
    outcome.action = action;
    outcome.result = result;
    outcome.failure = failure;
    outcome.finishedAt = QDateTime::currentDateTime();
    return outcome;
}

bool TapOutcome::leftUpdatePartWay() const
{
    if (action != Action::Update || !failed())
        return false;
    using Step = DeviceFailure::Step;
    switch (failure.step) {
    case Step::Erase:
    case Step::Begin:
    case Step::Page:
    case Step::End: return true;
    default: return failure.interfaceFault();
    }
}
