#pragma once

#include "MV1Device.h"

// Generation-3 firmware: the tap answers nothing, so every command is one frame followed by
// a fixed wait, and reads do not talk to the tap at all.
class MV1Device_v3 : public MV1Device
{
    Q_OBJECT

public:
    static constexpr unsigned long RegisterWriteWaitMs = 50;
    static constexpr unsigned long SectorEraseWaitMs = 2000;
    static constexpr unsigned long PageWriteWaitMs = 20;

    explicit MV1Device_v3(const char *interfaceName, std::unique_ptr<FrameLink> link = nullptr);

    // True once every frame has left the host: whether the tap took it, nobody can tell.
    bool writeRegister(int address, uint8_t value, bool persistent) override;
    bool eraseSettings() override;
    bool eraseSector(int address) override;
    // Refused: nothing can be read from a tap that never answers.
    bool readRegister(int address, uint8_t *value, bool persistent) override;
    bool writeSettings(const DeviceSettings &settings, bool persistent) override;
    // Refused, leaving the record cleared.
    bool readSettings(DeviceSettings &settings, bool persistent) override;
    // Refused: there is no commit step; a persistent write goes into flash as it is sent.
    bool commitSettings() override;
    // Erase, then pages; no commit.
    bool updateFirmware(const uint8_t *image, int length) override;
    bool writeFirmwarePage(int address, const uint8_t *page) override;
    DeviceAbilities abilities() const override;
    ProgressPlan firmwareUpdatePlan() const override;

private:
    // Opens the session, sends the frame, closes it, waiting out a replug on the way. False, with
    // the reason told as a failure at `step`, when the frame did not leave the host.
    bool sendFrame(const uint8_t *frameBytes, int length, const DeviceFailure &step);
};
