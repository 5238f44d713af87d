#include "MV1Device_v3.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <QThread>

#include "FirmwareProgramming.h"
#include "FrameLayout.h"
#include "LinkRecovery.h"
#include "SettingsRegisterMap.h"

namespace {

using Step = DeviceFailure::Step;

// Generation 3 keeps its flags as whole bytes or nibbles of all ones or all zeros.
constexpr uint8_t AllOnes = 0xFF;
constexpr uint8_t AllZeros = 0x00;
constexpr uint8_t KeepMatchingNibble = 0xF0;
constexpr uint8_t FilterOffNibble = 0x0F;

uint8_t allOnesWhenOff(uint8_t flag)
{
    return flag == 0 ? AllOnes : AllZeros;
}

// The 30 register writes of a settings write, in the order they go to the tap.
std::array<RegisterWrite, V3SettingsRegisterCount> settingsRegisters(const DeviceSettings &settings)
{
    const uint8_t filterMode =
        static_cast<uint8_t>((settings.keepMatching() != 0 ? KeepMatchingNibble : 0)
                             | (settings.filterEnabled() == 0 ? FilterOffNibble : 0));
    // In the order of reg::V3SettingsAddresses: drop CRC, strip FCS, no timestamps, filter mode.
    const std::array<uint8_t, V3FlagRegisterCount> flags = {
        allOnesWhenOff(settings.captureCrcErrorFrames()), allOnesWhenOff(settings.captureFcs()),
        allOnesWhenOff(settings.timestampsEnabled()), filterMode};
    std::array<RegisterWrite, V3SettingsRegisterCount> writes{};
    for (int i = 0; i < V3FlagRegisterCount; ++i)
        writes[i] = {reg::V3SettingsAddresses[i], flags[i]};
    const auto filter = filterRegisters(settings);
    std::copy(filter.begin(), filter.end(), writes.begin() + V3FlagRegisterCount);
    return writes;
}

}  // namespace

MV1Device_v3::MV1Device_v3(const char *interfaceName, std::unique_ptr<FrameLink> link)
    : MV1Device(interfaceName, std::move(link))
{
    m_generation = 3;
}

bool MV1Device_v3::sendFrame(const uint8_t *frameBytes, int length, const DeviceFailure &step)
{
    PacketSession *s = session();
    if (s == nullptr)
        return fail(noInterface().at(step.step, step.where, step.of));
    LinkRecovery link(*s);
    const bool opened = link.open();
    // No answer will show that the frame left: the link has to.
    const LinkRecovery::Sent sent = opened
        ? link.send(frameBytes, length, LinkRecovery::Confirm::Yes)
        : LinkRecovery::Sent::Never;
    s->close();
    if (!opened)
        return fail(linkFailure(step, DeviceFailure::Cause::CannotOpen, link.error()));
    // Nothing tells a one-way tap's host that a frame went missing, so a lost one ends it too.
    if (sent != LinkRecovery::Sent::Yes)
        return fail(linkFailure(step, DeviceFailure::Cause::CannotSend, link.error()));
    return succeed();
}

bool MV1Device_v3::writeRegister(int address, uint8_t value, bool persistent)
{
    uint8_t request[frame::RequestLength] = {};
    request[frame::OpcodeOffset] =
        persistent ? opcode::WriteRegisterPersistent : opcode::WriteRegister;
    frame::putAddress(request, address);
    request[frame::ValueOffset] = value;

    // Nothing comes back, so there is nothing to wait for after a frame that never left.
    if (!sendFrame(request, frame::RequestLength,
                   DeviceFailure::during(Step::Register, address & frame::AddressMask)))
        return false;
    QThread::msleep(RegisterWriteWaitMs);
    return true;
}

bool MV1Device_v3::eraseSettings()
{
    return eraseSector(reg::SettingsSector);
}

bool MV1Device_v3::eraseSector(int address)
{
    uint8_t request[frame::PageFrameLength] = {};
    request[frame::OpcodeOffset] = opcode::V3EraseSector;
    frame::putAddress(request, address);

    if (!sendFrame(request, frame::PageFrameLength,
                   DeviceFailure::during(Step::Erase, address & frame::AddressMask)))
        return false;
    QThread::msleep(SectorEraseWaitMs);
    return true;
}

bool MV1Device_v3::readRegister(int address, uint8_t *, bool)
{
    DeviceFailure failure = DeviceFailure::during(Step::Register, address & frame::AddressMask);
    failure.cause = DeviceFailure::Cause::Unreadable;
    return fail(failure);
}

bool MV1Device_v3::writeSettings(const DeviceSettings &settings, bool persistent)
{
    // The stored copy lives in flash that must be erased before it is written again; writing
    // over an erase that never left the host would corrupt it, so stop before any register.
    if (persistent && !eraseSettings())
        return false;

    for (const RegisterWrite &write : settingsRegisters(settings)) {
        if (!writeRegister(write.address, write.value, persistent))
            return false;
    }
    return succeed();
}

bool MV1Device_v3::readSettings(DeviceSettings &settings, bool persistent)
{
    settings.clear();
    return readRegister(reg::Flags, nullptr, persistent);
}

bool MV1Device_v3::commitSettings()
{
    return lacks(DeviceFailure::Cause::NoCommit);
}

DeviceAbilities MV1Device_v3::abilities() const
{
    return {.readsBack = false, .confirms = false, .programsPages = false};
}

ProgressPlan MV1Device_v3::firmwareUpdatePlan() const
{
    // By the host's own waits: three erases of 2 s against about 28 s of page writes.
    return {{ProgressStage::Erase, 18}, {ProgressStage::Pages, 82}};
}

bool MV1Device_v3::writeFirmwarePage(int address, const uint8_t *page)
{
    if (page == nullptr) {
        DeviceFailure failure = DeviceFailure::during(Step::Page, address / frame::PageSize);
        failure.cause = DeviceFailure::Cause::CannotSend;
        failure.detail = "no page data";
        return fail(failure);
    }

    uint8_t request[frame::PageFrameLength] = {};
    request[frame::OpcodeOffset] = opcode::V3WritePage;
    frame::putAddress(request, address);
    std::memcpy(request + frame::PageDataOffset, page, frame::PageSize);

    if (!sendFrame(
            request, frame::PageFrameLength,
            DeviceFailure::during(Step::Page, address / frame::PageSize, firmware::V3PageCount)))
        return false;
    QThread::msleep(PageWriteWaitMs);
    return true;
}

bool MV1Device_v3::updateFirmware(const uint8_t *image, int length)
{
    m_updateReceipt = UpdateReceipt{};
    if (!firmwareFits(image, length, firmware::V3PageCount))
        return fail(firmwareTooLarge(length, firmware::V3PageCount));

    // A frame that did not leave the host ends the run: the tap cannot tell us it missed
    // anything, so going on would only report a broken flash as programmed.
    emit MV1UpdateProgress(ProgressStage::Erase, 0, firmware::V3SectorCount);
    for (int sector = 0; sector < firmware::V3SectorCount; ++sector) {
        if (!eraseSector(sector * firmware::SectorSize))
            return false;
        emit MV1UpdateProgress(ProgressStage::Erase, sector + 1, firmware::V3SectorCount);
    }

    emit MV1UpdateProgress(ProgressStage::Pages, 0, firmware::V3PageCount);
    m_updateReceipt = UpdateReceipt{.pages = firmware::V3PageCount, .passes = 1};
    uint8_t page[firmware::PageSize];
    for (int index = 0; index < firmware::V3PageCount; ++index) {
        const int remaining = fillFirmwarePage(page, image, length, index);
        const int address = index * firmware::PageSize;

        // Unacknowledged, so every page that carries image bytes goes out twice in a row;
        // the partial page and the zero pages once.
        const int sends = remaining >= firmware::PageSize ? 2 : 1;
        for (int send = 0; send < sends; ++send) {
            if (!writeFirmwarePage(address, page))
                return false;
        }
        ++m_updateReceipt.sentUnanswered;
        emit MV1UpdateProgress(ProgressStage::Pages, index + 1, firmware::V3PageCount);
    }
    return succeed();
}
