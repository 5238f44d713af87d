#pragma once

#include <QDateTime>

#include "DeviceFailure.h"
#include "UpdateReceipt.h"

// How one operation on a tap ended: the value the window, the command-line tool and the tests
// all judge an operation by, each wording it in its own way. Every operation ends with exactly
// one, delivered once; the progress on the way says nothing of how it ended.
struct TapOutcome
{
    enum class Action { Write, Store, Read, Update };
    enum class Result {
        Succeeded,  // carried out, and the tap confirmed it
        SentUnconfirmed,  // every frame left the host, but the tap answers nothing
        Failed,  // `failure` says where and why
        Cancelled,  // not carried out: a later request took its place
    };

    Action action = Action::Write;
    Result result = Result::Failed;
    DeviceFailure failure;  // Failed only
    bool storedCopy = false;  // a failed Store: the working copy took the settings, this did not
    // An Update's pages as the tap acknowledged them. A succeeded update whose pages were not
    // all acknowledged with their index was sent, not shown written: words must say so.
    UpdateReceipt receipt;
    QDateTime finishedAt;

    // Ended now.
    static TapOutcome of(Action action, Result result, const DeviceFailure &failure = {});

    bool carriedOut() const
    {
        return result == Result::Succeeded || result == Result::SentUnconfirmed;
    }
    bool failed() const { return result == Result::Failed; }
    // Every page of an update acknowledged by an answer tied to it.
    bool verifiedByEcho() const { return receipt.verifiedByEcho(); }
    // A failed update that stopped once programming had begun, or by the interface: the flash
    // may hold part of an image, which the tap would not start.
    bool leftUpdatePartWay() const;
};
