#pragma once

#include <QString>

#include <string>

#include "FrameLink.h"

// Why a tap operation failed, with its context: the step (which register, sector or page) and
// what happened there (no reply, which refusal code, the capture library's text). Device
// operations keep the first failure of a run; the front ends show text() to people.
struct DeviceFailure
{
    enum class Step { None, Probe, Register, Erase, Commit, Begin, Page, End, Image, Interface };
    enum class Cause {
        None,
        NoReply,  // count: sends (or tries, for a page)
        Refused,  // code; count: tries, for a page
        CannotOpen,  // detail: the capture library's text
        CannotSend,  // detail: the capture library's text
        CaptureError,  // detail: the capture library's text
        // The interface, not the tap, keeps the frames from going (detail: the library's text):
        FrameTooLong,  // count: the interface's MTU (0: not known); wanted: the MTU it needs
        InterfaceDown,  // it stayed down longer than a replug takes
        InterfaceGone,  // it went away and did not come back within a replug's time
        ReadsBack,  // code: the value read back; wanted: the value written
        Disagree,  // reads of one register kept giving different values
        TooLarge,  // count: image bytes; wanted: bytes that fit
        // What the tap lacks, asked of it all the same:
        Unreadable,  // a generation-3 tap answers nothing, so nothing can be read back
        NoPageWrites,  // generation 4 takes firmware only in an acknowledged programming run
        NoCommit,  // generation 3 stores each register as it is written
        NoTap,  // there was no tap to ask
    };

    Step step = Step::None;
    int where = 0;  // register or sector address, or page index
    int of = 0;  // pages in the run
    Cause cause = Cause::None;
    int count = 0;
    int code = 0;
    int wanted = 0;
    std::string detail;
    std::string interfaceName;  // for the interface's own causes, which name it
    LinkError::Kind link = LinkError::Kind::Other;  // what the link said, where it failed
    // Some frame that may have been the tap's answer was seen, though none could be taken.
    bool heardReply = false;

    // A failure still to be told how: the step it happened at.
    static DeviceFailure during(Step step, int where = 0, int of = 0);
    // The link failed: told by its kind where that names a cause of the interface's own (with
    // the fix people can apply; `mtu` for a frame too long), else as `otherwise` with the
    // capture library's text.
    DeviceFailure ofLink(const LinkError &error, const std::string &interface, int mtu,
                         Cause otherwise) const;

    bool failed() const { return cause != Cause::None; }
    // The host's interface failed, not the tap: nothing more of the operation can get through,
    // so it ends here rather than trying the next register or page.
    bool interfaceFault() const;
    // One line for people: "register 0x7020C, no reply after 10 sends",
    // "page 10 of 768 refused 20 times".
    QString text() const;

    // The same failure, told as happening at another step.
    DeviceFailure at(Step newStep, int newWhere = 0, int newOf = 0) const;
};
