// What an imperfect line does to firmware updates, settings and detection, against the simulated
// tap in-process (no namespace needed). Each fault alone and in pairs, from a tap that repeats
// the request and from one that does not. Prints figures; asserts nothing.
//
//   bench_update_faults [--runs N] [--settings-runs N] [--heavy-runs N] [--detections N]
//                       [--any-image-runs N] [--only TEXT] [--shard K/N] [--seed-base S]
//                       [--no-header]
//
// After the rows: detections behind protocol-aware junk, single reads behind replayed answers,
// and what a clean line costs (requests and time of a settings read and an apply); "--only
// extras" runs those alone.
//
// A run mostly waits for the line, so shards (rows K, K+N, ...) run side by side in separate
// processes; --seed-base moves the seeds of a row's runs, to split one row between processes.
// With the defaults a serial run takes about three hours (the heavy row over an hour); eight
// shards beside the heavy row split twenty ways take under half an hour.
//
// Every update writes the image this program carries, the only one the simulated tap can start,
// and every update that ends as sent is followed by what kalvessa100ctl update-firmware --wait
// does: the tap is unplugged and plugged in again (its link down and up, which restarts it into
// what its flash holds) while awaitRestart() waits for it and reads what it answers as.
//
// Update columns: exact (succeeded, flash exact), honest (failed), acked-bad (every page
// acknowledged, flash wrong: counted before the restart), false (succeeded, flash wrong),
// echo-ok (succeeded with every page tied to its answer), passes (mean); after the restart:
// 4.0-ok (answers as 4.0, flash exact), 4.0-bad (answers as 4.0, flash wrong: a tap that stays
// silent on a bad image must make it 0), not-new (answers nothing or other firmware), t/o (not
// settled in time); any-bad: the same rows again with a tap that starts any image
// (--boot-any-image), those that answer as 4.0 with the flash wrong, which no check on the
// host can see. Settings columns: applies that succeeded, false applies (succeeded, tap holds
// other settings), reads that succeeded, wrong reads.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <vector>

#include "DeviceSettings.h"
#include "FirmwareImage.h"
#include "InProcessTapBed.h"
#include "MV1Device_v4.h"
#include "RestartWatch.h"
#include "SettingsRegisterMap.h"
#include "TapService.h"

namespace {

struct Fault
{
    const char *name;
    const char *options;
};

const Fault Faults[] = {
    {"request lost 1%", "--drop-fraction 0.01"},
    {"reply lost 1%", "--lose-reply-fraction 0.01"},
    {"5% twice +20ms", "--duplicate-fraction 0.05 --duplicate-lag-ms 20"},
    {"reordered 1%", "--reorder-fraction 0.01"},
    {"0.3% late 600ms", "--late-fraction 0.003 --late-ms 600"},
    {"5% late 30ms", "--late-fraction 0.05 --late-ms 30"},
    {"jitter 2ms", "--jitter-ms 2"},
    {"protocol junk 500/s", "--junk-rate 500 --junk-kinds protocol"},
};

struct Row
{
    QString name;
    QStringList options;
    int runs;
};

struct Options
{
    int runs = 5;
    int settingsRuns = 5;
    int heavyRuns = 200;
    int detections = 100;
    // The any-image pass repeats what the other pass measures with another start: --runs for
    // every row unless given, so that the heavy row does not cost twice.
    int anyImageRuns = -1;
    QString only;
    int shard = 0;
    int shards = 1;
    int seedBase = 0;
    bool header = true;
};

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); i += 2) {
        const QString &name = args[i];
        if (name == QLatin1String("--no-header")) {
            o.header = false;
            --i;
            continue;
        }
        if (i + 1 >= args.size())
            break;
        const int n = args[i + 1].toInt();
        if (name == QLatin1String("--runs"))
            o.runs = n;
        else if (name == QLatin1String("--settings-runs"))
            o.settingsRuns = n;
        else if (name == QLatin1String("--heavy-runs"))
            o.heavyRuns = n;
        else if (name == QLatin1String("--detections"))
            o.detections = n;
        else if (name == QLatin1String("--any-image-runs"))
            o.anyImageRuns = n;
        else if (name == QLatin1String("--only"))
            o.only = args[i + 1];
        else if (name == QLatin1String("--seed-base"))
            o.seedBase = n;
        else if (name == QLatin1String("--shard")) {
            const QStringList parts = args[i + 1].split(QLatin1Char('/'));
            if (parts.size() == 2 && parts[1].toInt() > 0) {
                o.shard = parts[0].toInt();
                o.shards = parts[1].toInt();
            }
        }
    }
    return o;
}

QStringList split(const char *options)
{
    return QString::fromLatin1(options).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

DeviceSettings settingsNumber(int n)
{
    DeviceSettings s;
    s.setFilterMode(n & 1, 0);
    s.setControlByte(static_cast<uint8_t>(0x0A + (n & 3)));
    s.setSrcIpMask(0x0F);
    const uint8_t ip[4] = {192, 0, 2, static_cast<uint8_t>(n)};
    s.setSrcIp(ip);
    return s;
}

bool holds(const QByteArray &sector, const DeviceSettings &written)
{
    for (const RegisterWrite &w : v4SettingsRegisters(written)) {
        const uint8_t mask = v4ReadBackMask(w.address);
        if ((uint8_t(sector.at(w.address - reg::SettingsSector)) & mask) != (w.value & mask))
            return false;
    }
    return true;
}

DeviceSettings held(const QByteArray &sector)
{
    std::array<uint8_t, V4ReadRegisterCount> values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint8_t>(sector.at(reg::V4ReadAddresses[i] - reg::SettingsSector));
    DeviceSettings s;
    v4SettingsFromRegisters(values, s);
    return s;
}

struct UpdateTally
{
    int exact = 0, honest = 0, ackedWrong = 0, falseSuccess = 0, verified = 0, passes = 0;
    // After the restart.
    int answersExact = 0, answersWrong = 0, notNew = 0, timedOut = 0;
    double ms = 0;
    QString firstTimeout;  // why the first restart that was not settled in time was not
};

// As long as pulling the plug takes; longer than the watch's look, so the down is seen even
// where the link notice is not.
constexpr std::chrono::milliseconds UnpluggedFor{300};
// Ample for a tap that answers nothing to be probed as such behind the slowest faults here.
constexpr int RestartTimeoutMs = 20000;

struct SettingsTally
{
    int applies = 0, applied = 0, falseApplies = 0, reads = 0, read = 0, wrongReads = 0;
    QString firstFailure;  // how the first failed one ended
};

// The tap unplugged and plugged in again while the tool waits for it, as a person does after
// kalvessa100ctl update-firmware --wait; what the wait saw. The bed stays with this thread.
RestartSeen replugAndAwait(InProcessTapBed &bed, const MacAddress &address)
{
    RestartSeen seen;
    QThread *const watch =
        QThread::create([&seen, address] { seen = awaitRestart(address, RestartTimeoutMs); });
    watch->start();
    bed.setUp(false);
    QThread::msleep(static_cast<unsigned long>(UnpluggedFor.count()));
    bed.setUp(true);
    watch->wait();
    delete watch;
    return seen;
}

UpdateTally updates(InProcessTapBed &bed, const QStringList &options, int runs, int seedBase)
{
    UpdateTally t;
    MacAddress address{};
    if (!HostInterfaces::current().hardwareAddress(bed.hostInterface(), &address))
        return t;
    for (int run = seedBase; run < seedBase + runs; ++run) {
        bed.stopTap();
        if (!bed.startTap(options + QStringList{"--seed", QString::number(run + 1)}))
            return t;
        bool ok = false;
        UpdateReceipt r;
        {
            MV1Device_v4 dev(qPrintable(bed.hostInterface()), bed.link());
            uint8_t value = 0;
            dev.readRegister(reg::Control, &value, false);  // as the detection's probe does first
            QElapsedTimer timer;
            timer.start();
            ok = dev.updateFirmware(firmwareImage, firmwareImageLength);
            t.ms += static_cast<double>(timer.nsecsElapsed()) / 1e6;
            r = dev.lastUpdateReceipt();
        }  // the restart is the tap's own: nothing here holds it meanwhile
        const QByteArray flash = bed.flash();
        const bool exact = flash.size() >= firmwareImageLength
            && std::memcmp(flash.constData(), firmwareImage, size_t(firmwareImageLength)) == 0;
        const bool everyPageAcked =
            r.pages > 0 && r.acknowledgedWithIndex + r.acknowledgedWithoutIndex == r.pages;
        t.exact += ok && exact;
        t.honest += !ok;
        t.ackedWrong += everyPageAcked && !exact;
        t.falseSuccess += ok && !exact;
        t.verified += ok && r.verifiedByEcho();
        t.passes += r.passes;
        if (!ok)
            continue;  // the tool waits only after an update that ended as sent
        const RestartSeen seen = replugAndAwait(bed, address);
        switch (seen.result) {
        case RestartSeen::Result::AnswersCurrent:
            t.answersExact += exact;
            t.answersWrong += !exact;
            break;
        case RestartSeen::Result::RunsOther:
        case RestartSeen::Result::NoAnswer: ++t.notNew; break;
        case RestartSeen::Result::TimedOut:
            if (t.timedOut++ == 0)
                t.firstTimeout = seen.wentAway ? seen.reason : QStringLiteral("not seen to go");
            break;
        }
    }
    return t;
}

SettingsTally settings(InProcessTapBed &bed, const QStringList &options, int runs)
{
    SettingsTally t;
    bed.stopTap();
    if (!bed.startTap(options + QStringList{"--seed", QStringLiteral("7")}))
        return t;
    MV1Device_v4 dev(qPrintable(bed.hostInterface()), bed.link());
    for (int run = 0; run < runs; ++run) {
        const DeviceSettings s = settingsNumber(run + 1);
        ++t.applies;
        if (dev.writeSettings(s, false)) {
            ++t.applied;
            t.falseApplies += !holds(bed.settingsSector(false), s);
        } else if (t.firstFailure.isEmpty()) {
            t.firstFailure = QStringLiteral("apply: ") + dev.lastFailure().text();
        }
        DeviceSettings back;
        ++t.reads;
        if (dev.readSettings(back, false)) {
            ++t.read;
            t.wrongReads += !(back == held(bed.settingsSector(false)));
        } else if (t.firstFailure.isEmpty()) {
            t.firstFailure = QStringLiteral("read: ") + dev.lastFailure().text();
        }
    }
    return t;
}

void printRow(const Row &row, const UpdateTally &u, const UpdateTally &any, int anyRuns,
              const SettingsTally &s)
{
    std::printf("%-52s %4d | %5d %6d %9d %5d %7d %6.2f | %6d %7d %7d %3d | %3d/%-3d | %7.0f | "
                "%3d/%-3d %5d %3d/%-3d %5d\n",
                qPrintable(row.name), row.runs, u.exact, u.honest, u.ackedWrong, u.falseSuccess,
                u.verified, row.runs ? double(u.passes) / row.runs : 0.0, u.answersExact,
                u.answersWrong, u.notNew, u.timedOut, any.answersWrong, anyRuns,
                row.runs ? u.ms / row.runs : 0.0, s.applied, s.applies, s.falseApplies, s.read,
                s.reads, s.wrongReads);
    if (!s.firstFailure.isEmpty())
        std::printf("    first settings failure: %s\n", qPrintable(s.firstFailure));
    if (!u.firstTimeout.isEmpty())
        std::printf("    first restart not settled: %s\n", qPrintable(u.firstTimeout));
    std::fflush(stdout);
}

// A generation-4 tap answering in 1 ms behind protocol-aware junk: found, and its firmware
// read as it is, within 5 s.
void detections(InProcessTapBed &bed, int count, bool echo)
{
    int found = 0, trueFirmware = 0;
    double worstMs = 0;
    for (int i = 0; i < count; ++i) {
        bed.stopTap();
        QStringList options{"--delay-ms",   "1",        "--junk-rate", "2000",
                            "--junk-kinds", "protocol", "--seed",      QString::number(i + 1)};
        if (!echo)
            options << QStringLiteral("--no-echo");
        if (!bed.startTap(options))
            return;
        QElapsedTimer timer;
        timer.start();
        bool ok = false;
        while (!ok && timer.elapsed() < 5000) {
            TapOpening opening = openTap(bed.hostInterface());
            if (opening.result != TapOpening::Result::Opened || !opening.tap)
                continue;
            ++found;
            DeviceSettings s;
            for (int read = 0; !ok && read < 3 && timer.elapsed() < 5000; ++read)
                ok = opening.tap->device().readSettings(s, false);
            if (ok && s.firmwareVersion() == 0x0004 && s.firmwareTypeCode() == 0x220C)
                ++trueFirmware;
            else if (ok)
                std::printf("  detection %d: firmware read as %04x\n", i + 1, s.firmwareVersion());
            break;
        }
        worstMs = std::max(worstMs, double(timer.elapsed()));
    }
    std::printf("detection at 2000 protocol junk frames/s, tap answering in 1 ms, %s: found %d of "
                "%d, true firmware within 5 s in %d of %d (goal %d), slowest %.0f ms\n",
                echo ? "repeating" : "not repeating", found, count, trueFirmware, count, count,
                worstMs);
    std::fflush(stdout);
}

// Single register reads from a tap answering in 1 ms behind replays of its own earlier answers:
// two registers holding different values read in turn, so a replay taken for an answer shows as
// the other register's value.
void replayedReads(InProcessTapBed &bed, int count, bool echo)
{
    constexpr int First = 0x70300, Second = 0x70301;  // 4 and 2 with --firmware-version 4.2
    bed.stopTap();
    QStringList options{"--delay-ms",   "1",      "--junk-rate",        "200",
                        "--junk-kinds", "replay", "--firmware-version", "4.2"};
    if (!echo)
        options << QStringLiteral("--no-echo");
    if (!bed.startTap(options))
        return;
    MV1Device_v4 dev(qPrintable(bed.hostInterface()), bed.link());
    int wrong = 0, failed = 0;
    for (int i = 0; i < count; ++i) {
        const bool first = i % 2 == 0;
        uint8_t value = 0;
        if (!dev.readRegister(first ? First : Second, &value, false))
            ++failed;
        else
            wrong += value != (first ? 4 : 2);
    }
    std::printf("single reads at 200 replayed answers/s, tap answering in 1 ms, %s: wrong %d, "
                "failed %d of %d (goal: wrong 0)\n",
                echo ? "repeating" : "not repeating", wrong, failed, count);
    std::fflush(stdout);
}

// What a clean line costs: requests sent and time taken by a settings read and an apply, and the
// median single register read.
void cleanLine(InProcessTapBed &bed, int runs)
{
    for (const bool echo : {true, false}) {
        bed.stopTap();
        if (!bed.startTap(echo ? QStringList() : QStringList{"--no-echo"}))
            return;
        MV1Device_v4 dev(qPrintable(bed.hostInterface()), bed.link());
        uint8_t value = 0;
        dev.readRegister(reg::Control, &value, false);
        double readMs = 0, applyMs = 0;
        qsizetype readSends = 0, applySends = 0;
        std::vector<double> single;
        for (int run = 0; run < runs; ++run) {
            DeviceSettings back;
            bed.clearFrames();
            QElapsedTimer timer;
            timer.start();
            dev.readSettings(back, false);
            readMs += double(timer.nsecsElapsed()) / 1e6;
            readSends += bed.frames().size();
            bed.clearFrames();
            timer.restart();
            dev.writeSettings(settingsNumber(run + 1), false);
            applyMs += double(timer.nsecsElapsed()) / 1e6;
            applySends += bed.frames().size();
            for (int i = 0; i < 20; ++i) {
                timer.restart();
                dev.readRegister(reg::Control, &value, false);
                single.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        }
        std::sort(single.begin(), single.end());
        std::printf("clean line, %s: settings read %.1f requests, %.2f ms; apply %.1f requests, "
                    "%.2f ms; single read median %.3f ms (means of %d)\n",
                    echo ? "repeating" : "not repeating", double(readSends) / runs, readMs / runs,
                    double(applySends) / runs, applyMs / runs,
                    single.empty() ? 0.0 : single[single.size() / 2], runs);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    InProcessTapBed bed;
    if (!bed.plug()) {
        std::fprintf(stderr, "could not plug the in-process tap\n");
        return 2;
    }

    std::vector<Row> rows;
    const auto add = [&](const QString &name, const QStringList &options, int runs) {
        for (const bool echo : {true, false}) {
            const QString full =
                name + (echo ? QStringLiteral(", repeating") : QStringLiteral(", not repeating"));
            if (o.only.isEmpty() || full.contains(o.only))
                rows.push_back({full, echo ? options : options + QStringList{"--no-echo"}, runs});
        }
    };
    add(QStringLiteral("clean"), {}, o.runs);
    for (const Fault &f : Faults)
        add(QString::fromLatin1(f.name), split(f.options), o.runs);
    for (size_t a = 0; a < std::size(Faults); ++a) {
        for (size_t b = a + 1; b < std::size(Faults); ++b)
            add(QStringLiteral("%1 + %2").arg(QLatin1String(Faults[a].name),
                                              QLatin1String(Faults[b].name)),
                split(Faults[a].options) + split(Faults[b].options), o.runs);
    }
    add(QStringLiteral("every reply twice + request lost 1%"),
        split("--duplicate-fraction 1 --drop-fraction 0.01"), o.heavyRuns);
    add(QStringLiteral("protocol junk 2000/s, answering in 1 ms"),
        split("--delay-ms 1 --junk-rate 2000 --junk-kinds protocol"), o.runs);
    // Not a line fault: a tap that acknowledges every page and stores none, so that the flash
    // is wrong behind a complete set of acknowledgements and the restart columns have something
    // to count (4.0-bad must stay 0, any-bad counts every run).
    add(QStringLiteral("pages acknowledged, not stored"), split("--wrong-code b1:1b"), o.runs);

    if (o.header)
        std::printf("%-52s %4s | %5s %6s %9s %5s %7s %6s | %6s %7s %7s %3s | %7s | %7s | %7s %5s "
                    "%7s %5s\n",
                    "row", "runs", "exact", "honest", "acked-bad", "false", "echo-ok", "passes",
                    "4.0-ok", "4.0-bad", "not-new", "t/o", "any-bad", "ms/upd", "applied", "false",
                    "read", "wrong");
    for (size_t i = 0; i < rows.size(); ++i) {
        if (static_cast<int>(i) % o.shards != o.shard)
            continue;
        const Row &row = rows[i];
        const UpdateTally u = updates(bed, row.options, row.runs, o.seedBase);
        const int anyRuns = std::min(row.runs, o.anyImageRuns < 0 ? o.runs : o.anyImageRuns);
        const UpdateTally any =
            updates(bed, row.options + QStringList{"--boot-any-image"}, anyRuns, o.seedBase);
        const SettingsTally s = settings(bed, row.options, o.settingsRuns);
        printRow(row, u, any, anyRuns, s);
    }
    // "--only extras" runs these alone.
    if ((o.only.isEmpty() || o.only == QLatin1String("extras")) && o.detections > 0
        && o.shard == 0) {
        detections(bed, o.detections, true);
        detections(bed, o.detections, false);
        replayedReads(bed, o.detections * 10, true);
        replayedReads(bed, o.detections * 10, false);
        cleanLine(bed, 20);
    }
    return 0;
}
