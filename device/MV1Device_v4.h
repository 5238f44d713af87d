#pragma once

#include <string>
#include <vector>

#include "MV1Device.h"
#include "ReplyTiming.h"

// Generation-4 firmware: every request is answered. See FrameLayout.h for the frames and
// ReplyFilter.h for how an answer is told from the monitored network's traffic.
class MV1Device_v4 : public MV1Device
{
    Q_OBJECT

public:
    using Frame = std::vector<uint8_t>;

    explicit MV1Device_v4(const char *interfaceName, std::unique_ptr<FrameLink> link = nullptr);

    bool writeRegister(int address, uint8_t value, bool persistent) override;
    bool eraseSettings() override;
    bool eraseSector(int address) override;
    bool readRegister(int address, uint8_t *value, bool persistent) override;
    // Writes the 28 settings registers (and commits a persistent write), then reads them back:
    // true only when every write was acknowledged and every register holds what was written.
    bool writeSettings(const DeviceSettings &settings, bool persistent) override;
    // Reads each of the 32 settings and status registers twice in a row, and again while the
    // last two reads disagree, until two reads in a row agree. True when all of them did.
    bool readSettings(DeviceSettings &settings, bool persistent) override;
    // The tap's answer carries no verdict, so this always returns false.
    bool commitSettings() override;
    // Erase (the begin), pages, commit (the end): true only once the tap acknowledged the end.
    // lastUpdateReceipt() tells how many pages were acknowledged with their index; pages whose
    // answers cannot be tied to them go out a second time once strays were heard.
    bool updateFirmware(const uint8_t *image, int length) override;
    // Refused: generation 4 takes firmware only through programPage, inside a programming run.
    bool writeFirmwarePage(int address, const uint8_t *page) override;
    DeviceAbilities abilities() const override;
    ProgressPlan firmwareUpdatePlan() const override;

    // Programming commands used by updateFirmware.
    bool beginProgramming();
    bool programPage(int pageIndex, const uint8_t *page);
    bool endProgramming();

    static constexpr int MaxSendAttempts = 10;
    // Exchanges after one that heard a stray in which refusals and values still need a repeat.
    static constexpr int DoubtAfterStray = 32;
    // More reads of a register whose two reads disagreed, before the settings read gives up.
    static constexpr int ExtraReadsPerRegister = 3;

    struct Exchange
    {
        enum class Result {
            Answered,
            Refused,
            NoReply,
            CannotOpen,
            CaptureError,
            CannotSend,  // the request cannot go out, and waiting would not change that
        };
        Result result = Result::NoReply;
        Frame answer;  // Answered: the whole frame as captured
        uint8_t code = 0;  // Refused: the code the tap answered with
        int sends = 0;
        bool heardReply = false;  // something that could have been the tap's answer was seen
        int unexpectedFrames = 0;  // strays and surplus verdict frames (ReplyFilter)
        std::string detail;  // the capture library's text, when it failed
        LinkError::Kind linkError = LinkError::Kind::Other;  // and what it means
    };

    // Sends the request up to MaxSendAttempts times until an attempt ends with an answer
    // carrying expectedCode (ReplyFilter::AnyCode: any zero-header frame) or a refusal. After
    // the first verdict frame the attempt still looks at what arrives within settleMs, and
    // after a read's answer that came sooner than the tap answers (ReplyTiming) until the tap's
    // own is due. When stray frames or such an early answer were heard in this exchange or
    // shortly before, a refusal or a read's value is taken only once two attempts in a row end
    // with the same; on a clean line one send does.
    // Opens and closes the session around the exchange, and waits out an interface that goes
    // down or away for a replug's time (LinkRecovery); a request the interface can never carry
    // ends it at once.
    Exchange exchange(const uint8_t *request, int length, int receiveBudget, int expectedCode,
                      int settleMs = 0);

    // Whether this tap has been seen to repeat a request's address in its answer. From then on
    // an answer that does not is taken for someone else's frame.
    bool echoesAddress() const { return m_echoesAddress; }

private:
    enum class PageAck { None, WithoutIndex, WithIndex };

    Exchange runExchange(const uint8_t *request, int length, int receiveBudget, int expectedCode,
                         int settleMs);
    // programPage, telling whether the answer repeated the page's index.
    bool sendPage(int pageIndex, const uint8_t *page, bool *withIndex);
    // A page, sent until answered (or refused every time): its tries and the failure the
    // update ends with.
    bool sendPageWithTries(int index, const uint8_t *page, PageAck *ack);
    // A command's exchange, told as a failure at this step when it did not answer as wanted.
    bool command(const uint8_t *request, int length, int receiveBudget, int expectedCode,
                 int settleMs, const DeviceFailure &step, Frame *answer = nullptr);
    bool verifySettings(const DeviceSettings &settings, bool persistent);
    void learnAddressEcho(const uint8_t *request, int length, const Frame &answer);
    int programmingSettleMs() const;

    bool m_echoesAddress = false;
    // How soon the tap answers a read, and a persistent read, each its own: reading the flash
    // may take the tap longer than reading its registers.
    ReplyTiming m_readTiming, m_persistentReadTiming;
    int m_doubtfulExchanges = 0;  // counts down over clean exchanges after a stray
    int m_unexpectedHeard = 0;  // strays heard in this device's life, to tell a run's share
    int m_resends = 0;  // sends beyond the first of an exchange, likewise
};
