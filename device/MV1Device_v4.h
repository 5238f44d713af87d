#pragma once

#include <optional>
#include <vector>

#include "MV1Device.h"

// Generation-4 firmware: every request is answered. See FrameLayout.h for the frames.
class MV1Device_v4 : public MV1Device
{
    Q_OBJECT

public:
    using Frame = std::vector<uint8_t>;

    explicit MV1Device_v4(const char *interfaceName);

    bool writeRegister(int address, uint8_t value, bool persistent) override;
    bool eraseSettings() override;
    bool eraseSector(int address) override;
    bool readRegister(int address, uint8_t *value, bool persistent) override;
    bool writeSettings(const DeviceSettings &settings, bool persistent) override;
    bool readSettings(DeviceSettings &settings, bool persistent) override;
    bool commitSettings() override;
    bool updateFirmware(const uint8_t *image, int length) override;
    bool writeFirmwarePage(int address, const uint8_t *page) override;

    // Programming commands used by updateFirmware.
    bool beginProgramming();
    bool programPage(int pageIndex, const uint8_t *page);
    bool endProgramming();

    static constexpr int MaxSendAttempts = 10;

    // Sends the request up to MaxSendAttempts times and returns a copy of the first frame
    // taken as the reply, or nothing. Opens and closes the session around the exchange.
    std::optional<Frame> exchange(const uint8_t *request, int length, int receiveBudget);

private:
    bool replyFound = false;
};
