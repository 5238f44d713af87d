#pragma once

#include <QString>

#include <string>

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
    // Some frame that may have been the tap's answer was seen, though none could be taken.
    bool heardReply = false;

    // A failure still to be told how: the step it happened at.
    static DeviceFailure during(Step step, int where = 0, int of = 0);

    bool failed() const { return cause != Cause::None; }
    // One line for people: "register 0x7020C, no reply after 10 sends",
    // "page 10 of 768 refused 20 times".
    QString text() const;

    // The same failure, told as happening at another step.
    DeviceFailure at(Step newStep, int newWhere = 0, int newOf = 0) const;
};
