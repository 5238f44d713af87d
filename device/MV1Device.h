#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QObject>

#include "DeviceAbilities.h"
#include "DeviceFailure.h"
#include "DeviceSettings.h"
#include "OperationProgress.h"
#include "PacketSession.h"
#include "UpdateReceipt.h"

// The interface through which the rest of the program talks to a tap. Every operation runs
// synchronously on the caller's thread; a QObject only for the progress signal.
//
// An operation that returns false leaves the reason in lastFailure(): the step that failed and
// how. A run of several steps (a settings write, a firmware update) keeps its first failure.
// Whether an operation succeeded is told by its result alone, never by its progress.
class MV1Device : public QObject
{
    Q_OBJECT

public:
    // Talks through `link`, or through a capture of the interface when none is given.
    explicit MV1Device(const char *interfaceName, std::unique_ptr<FrameLink> link = nullptr);
    ~MV1Device() override;

    // Virtual operations, in interface order. Addresses are 24-bit device addresses.
    virtual bool writeRegister(int address, uint8_t value, bool persistent) = 0;
    virtual bool eraseSettings() = 0;
    virtual bool eraseSector(int address) = 0;
    virtual bool readRegister(int address, uint8_t *value, bool persistent) = 0;
    virtual bool writeSettings(const DeviceSettings &settings, bool persistent) = 0;
    virtual bool readSettings(DeviceSettings &settings, bool persistent) = 0;
    virtual bool commitSettings() = 0;
    virtual bool updateFirmware(const uint8_t *image, int length) = 0;
    virtual bool writeFirmwarePage(int address, const uint8_t *page) = 0;

    virtual DeviceAbilities abilities() const = 0;
    // The stages updateFirmware reports progress in, with their weights.
    virtual ProgressPlan firmwareUpdatePlan() const = 0;

    int generation() const { return m_generation; }
    bool hardwareAddress(uint8_t *out) const;
    const char *interfaceName() const { return m_interfaceName.c_str(); }
    const DeviceFailure &lastFailure() const { return m_lastFailure; }
    // What the tap told of the pages of the last updateFirmware, whether it succeeded or not.
    const UpdateReceipt &lastUpdateReceipt() const { return m_updateReceipt; }

    // The capture is kept between operations only for a short while (PacketSession): the
    // device's owner calls this when it has nothing to do, on the thread that runs the
    // operations, and it gives up a capture that has stood idle long enough. Whether it did.
    // What the device learned about the tap stays: it is the tap's, not the capture's.
    bool releaseIdleCapture(PacketSession::Clock::time_point now = PacketSession::Clock::now());
    // Milliseconds until releaseIdleCapture() has something to do, -1 while it never will.
    int msUntilCaptureRelease() const;
    // Gives the capture up at once, as before waiting on a person.
    void releaseCapture();

signals:
    // Firmware programming progress: `done` of the `total` steps of `stage` are complete.
    void MV1UpdateProgress(ProgressStage stage, int done, int total);

protected:
    PacketSession *session() const { return m_session.get(); }
    // Records why the operation under way failed, and returns false for the caller to pass on.
    bool fail(const DeviceFailure &failure);
    bool succeed();
    // For an operation this tap's generation does not have: nothing is sent.
    bool lacks(DeviceFailure::Cause cause);
    // A failure for a device built without an interface, which has no session to talk through.
    static DeviceFailure noInterface();
    // `step` failed because the link did (DeviceFailure::ofLink).
    DeviceFailure linkFailure(const DeviceFailure &step, DeviceFailure::Cause otherwise,
                              const LinkError &error) const;
    // False, failing at `step`, when the interface's MTU is known to be too small for a frame of
    // this length: for runs that must not start when they cannot be finished.
    bool carriesFrames(int length, const DeviceFailure &step);

    const std::string m_interfaceName;
    const std::unique_ptr<PacketSession> m_session;  // null only when constructed without a name
    int m_generation = 0;
    DeviceFailure m_lastFailure;
    UpdateReceipt m_updateReceipt;
};
