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
