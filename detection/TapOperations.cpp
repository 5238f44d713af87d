#include "TapOperations.h"

#include "MV1Device.h"
#include "TapService.h"

using Action = TapOutcome::Action;
using Result = TapOutcome::Result;

namespace tapoperation {

namespace {

// What the device's true means: a tap that answers nothing only tells that the frames left.
TapOutcome carriedOut(const MV1Device &device, Action action)
{
    return TapOutcome::of(
        action, device.abilities().confirms ? Result::Succeeded : Result::SentUnconfirmed);
}

TapOutcome failed(const MV1Device &device, Action action)
{
    return TapOutcome::of(action, Result::Failed, device.lastFailure());
}

}  // namespace

TapOutcome writeSettings(HeldTap &tap, const DeviceSettings &settings, bool store)
{
    const Action action = store ? Action::Store : Action::Write;
    MV1Device &device = tap.device();
    if (!device.writeSettings(settings, false))
        return failed(device, action);
    if (store && !device.writeSettings(settings, true)) {
        TapOutcome outcome = failed(device, action);
        outcome.storedCopy = true;
        return outcome;
    }
    return carriedOut(device, action);
}

TapOutcome readSettings(HeldTap &tap, DeviceSettings *settings, bool stored)
{
    MV1Device &device = tap.device();
    DeviceSettings read;
    const bool ok = device.readSettings(read, stored);
    if (settings != nullptr)
        *settings = read;
    return ok ? carriedOut(device, Action::Read) : failed(device, Action::Read);
}

TapOutcome updateFirmware(HeldTap &tap, const uint8_t *image, int length,
                          const ProgressSink &progress)
{
    MV1Device &device = tap.device();
    WeightedProgress weighted(device.firmwareUpdatePlan());
    // Direct: the device reports from the thread that runs the update, which is this one.
    const QMetaObject::Connection connection = QObject::connect(
        &device, &MV1Device::MV1UpdateProgress, [&](ProgressStage stage, int done, int total) {
            const OperationProgress now = weighted.advance(stage, done, total);
            if (progress)
                progress(now);
        });
    const bool sent = device.updateFirmware(image, length);
    QObject::disconnect(connection);
    TapOutcome outcome = sent ? carriedOut(device, Action::Update) : failed(device, Action::Update);
    outcome.receipt = device.lastUpdateReceipt();
    return outcome;
}

TapOutcome withoutTap(Action action)
{
    DeviceFailure failure;
    failure.cause = DeviceFailure::Cause::NoTap;
    return TapOutcome::of(action, Result::Failed, failure);
}

}  // namespace tapoperation
