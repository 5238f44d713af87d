#include "SettingsApply.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

#include "Console.h"
#include "SettingOptions.h"
#include "SettingsFile.h"
#include "TapAccess.h"
#include "TapOperations.h"

namespace {

using console::tr;

// The window's form always writes this control byte; the tap keeps only its low bits, so it
// never counts as a difference.
constexpr uint8_t ControlByteWritten = 255;
constexpr int LabelWidth = 12;

enum class Copy { Working, Stored };

struct Difference
{
    Copy copy;
    QList<Setting> settings;
    DeviceSettings held;
};

QString copyName(Copy copy)
{
    return copy == Copy::Working ? tr("working copy") : tr("stored copy");
}

QJsonArray changesJson(const Difference &difference, const DeviceSettings &target)
{
    QJsonArray changes;
    for (const Setting setting : difference.settings) {
        changes.append(QJsonObject{
            {QStringLiteral("key"), qualifiedKey(setting)},
            {QStringLiteral("from"),
             SettingsFile::jsonValue(setting, settingOf(difference.held, setting))},
            {QStringLiteral("to"), SettingsFile::jsonValue(setting, settingOf(target, setting))}});
    }
    return changes;
}

// Both copies differing alike is the usual case of --store; that is said once.
bool sameDifference(const Difference &a, const Difference &b)
{
    return a.settings == b.settings && differingSettings(a.held, b.held).isEmpty();
}

void printChanges(const QString &interfaceName, const QString &copies, const Difference &difference,
                  const DeviceSettings &target)
{
    if (difference.settings.isEmpty()) {
        console::info(tr("%1: the %2 already holds these settings.").arg(interfaceName, copies));
        return;
    }
    console::info(tr("%1: changes to the %2:").arg(interfaceName, copies));
    for (const Setting setting : difference.settings) {
        console::info(QStringLiteral("  %1%2 -> %3")
                          .arg(settingoptions::nameOf(setting).leftJustified(LabelWidth),
                               formatSetting(setting, settingOf(difference.held, setting)),
                               settingoptions::describe(setting, settingOf(target, setting))));
    }
}

// Into the working copy, and with --store also into the stored one, as the window's Flash.
// *confirmed says whether the tap acknowledged them: a tap that answers nothing cannot.
ExitCode write(HeldTap &tap, const DeviceSettings &target, bool store, bool *confirmed)
{
    const TapOutcome written = tapoperation::writeSettings(tap, target, store);
    *confirmed = written.result == TapOutcome::Result::Succeeded;
    if (written.failed()) {
        console::err(tr("%1: the %2 did not take the settings: %3")
                         .arg(tap.interfaceName(),
                              copyName(written.storedCopy ? Copy::Stored : Copy::Working),
                              written.failure.text()));
    }
    return tapaccess::exitCodeOf(written);
}

QString writtenText(const QString &interfaceName, bool store, bool confirmed)
{
    if (!confirmed)
        return store ? tr("Sent to %1 to be stored; the tap cannot confirm it.").arg(interfaceName)
                     : tr("Sent to %1; the tap cannot confirm it.").arg(interfaceName);
    return store
        ? tr("Written to %1 and stored: the settings survive a power cycle.").arg(interfaceName)
        : tr("Written to the working copy of %1.").arg(interfaceName);
}

// What an apply does to the tap: the settings it ends with, and how they differ from what
// each copy it writes holds now.
struct Plan
{
    ExitCode failure = ExitCode::Success;
    bool compared = false;
    DeviceSettings target;
    QList<Difference> differences;

    bool changed() const
    {
        return !compared
            || std::any_of(differences.begin(), differences.end(),
                           [](const Difference &d) { return !d.settings.isEmpty(); });
    }
};

// A tap that can be read keeps whatever the patch does not give; one that cannot (generation
// 3) has nothing to keep, so the patch must give every setting.
Plan planFor(HeldTap &tap, const SettingsPatch &patch, bool store)
{
    Plan plan;
    const QString name = tap.interfaceName();
    DeviceSettings working;
    plan.compared = tap.abilities().readsBack;
    if (plan.compared) {
        const TapOutcome read = tapoperation::readSettings(tap, &working);
        if (read.failed()) {
            console::err(
                tr("%1: the working copy cannot be read: %2").arg(name, read.failure.text()));
            plan.failure = tapaccess::exitCodeOf(read);
            return plan;
        }
    }

    if (!plan.compared) {
        const QList<Setting> missing = patch.missing();
        if (!missing.isEmpty()) {
            QStringList options, keys;
            for (const Setting setting : missing) {
                options.append(QStringLiteral("--") + settingoptions::nameOf(setting));
                keys.append(qualifiedKey(setting));
            }
            console::err(
                tr("%1 runs generation %2, which cannot be read back, so every setting "
                   "must be given. Missing: %3 (in a settings file: %4).")
                    .arg(name)
                    .arg(tap.generation())
                    .arg(options.join(QStringLiteral(", ")), keys.join(QStringLiteral(", "))));
            plan.failure = ExitCode::BadInput;
            return plan;
        }
    }

    plan.target = patch.appliedTo(plan.compared ? working : DeviceSettings());
    plan.target.setControlByte(ControlByteWritten);
    if (!plan.compared)
        return plan;
    plan.differences.append({Copy::Working, differingSettings(working, plan.target), working});
    if (store) {
        DeviceSettings stored;
        const TapOutcome read = tapoperation::readSettings(tap, &stored, true);
        if (read.failed()) {
            console::err(
                tr("%1: the stored copy cannot be read: %2").arg(name, read.failure.text()));
            plan.failure = tapaccess::exitCodeOf(read);
            return plan;
        }
        plan.differences.append({Copy::Stored, differingSettings(stored, plan.target), stored});
    }
    return plan;
}

// "written" only for what the tap confirmed; "sent" for everything that left the host.
QJsonObject planJson(const HeldTap &tap, const Plan &plan, const ApplyRequest &request, bool sent,
                     bool confirmed)
{
    const bool written = sent && confirmed;
    QJsonObject json{{QStringLiteral("interface"), tap.interfaceName()},
                     {QStringLiteral("generation"), tap.generation()},
                     {QStringLiteral("store"), request.store},
                     {QStringLiteral("check"), request.check},
                     {QStringLiteral("compared"), plan.compared},
                     {QStringLiteral("changed"), plan.changed()},
                     {QStringLiteral("written"), written},
                     {QStringLiteral("sent"), sent},
                     {QStringLiteral("confirmed"), confirmed},
                     {QStringLiteral("settings"), SettingsFile::toJson(plan.target)}};
    if (plan.compared) {
        QJsonObject changes;
        for (const Difference &difference : plan.differences) {
            changes.insert(difference.copy == Copy::Working ? QStringLiteral("working")
                                                            : QStringLiteral("stored"),
                           changesJson(difference, plan.target));
        }
        json.insert(QStringLiteral("changes"), changes);
    }
    return json;
}

void printPlan(const HeldTap &tap, const Plan &plan)
{
    const QString name = tap.interfaceName();
    if (!plan.compared) {
        console::info(tr("%1 runs generation %2, which cannot be read back: nothing can be "
                         "compared, so every setting is written.")
                          .arg(name)
                          .arg(tap.generation()));
    }
    if (!plan.changed())
        return;  // said once, after the run
    const QList<Difference> &differences = plan.differences;
    if (differences.size() == 2 && sameDifference(differences[0], differences[1])) {
        printChanges(name, tr("working and stored copy"), differences[0], plan.target);
        return;
    }
    for (const Difference &difference : differences)
        printChanges(name, copyName(difference.copy), difference, plan.target);
}

}  // namespace

ExitCode applySettings(const QString &selector, const ApplyRequest &request, QJsonObject *document)
{
    const tapaccess::Taken taken = tapaccess::take(selector, tapaccess::Choice::OnlyOne);
    if (!taken.tap)
        return taken.failure;
    HeldTap &tap = *taken.tap;

    const Plan plan = planFor(tap, request.settings, request.store);
    if (plan.failure != ExitCode::Success)
        return plan.failure;
    if (console::informing())
        printPlan(tap, plan);

    const bool writes = plan.changed() && !request.check;
    // Nothing sent is nothing to doubt; a tap that answers nothing confirms nothing.
    bool confirmed = true;
    if (writes) {
        const ExitCode written = write(tap, plan.target, request.store, &confirmed);
        if (written != ExitCode::Success)
            return written;
    }

    if (console::jsonMode())
        *document = planJson(tap, plan, request, writes, confirmed);
    else if (!plan.changed())
        console::info(
            tr("Nothing written: %1 already holds these settings.").arg(tap.interfaceName()));
    else if (request.check)
        console::info(tr("Nothing written (--check)."));
    else
        console::info(writtenText(tap.interfaceName(), request.store, confirmed));
    return ExitCode::Success;
}
