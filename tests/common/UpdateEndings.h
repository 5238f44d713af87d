#pragma once

// How a firmware update ends, as the window and kalvessa100ctl word it and the tool's exit
// status: one table that the window's test and the tool's test both run, so that the two front
// ends cannot drift apart. The tap's options choose what its flash ends with; `replug` takes
// its link down and up after the last page, which power-cycles the simulated tap.

#include <QStringList>
#include <QtTest>

struct UpdateEnding
{
    const char *name;
    QStringList tapOptions;
    bool replug;
    bool endToEnd;  // also on the veth bed
    // Whether the flash ends with the exact image: the words must never depend on it.
    bool exactFlash;
    const char *window;  // in the window's bold line or the line of the last action
    const char *tool;  // in kalvessa100ctl update-firmware --yes --wait's output
    int exitStatus;
};

inline const QList<UpdateEnding> &updateEndings()
{
    // Generation 3 answers nothing, so a page whose every send is lost goes unnoticed by the
    // host: a partial image. A hung tap carries nothing out, so its flash keeps what it had.
    static const QList<UpdateEnding> rows{
        {"generation 4 old, replugged",
         {"--firmware-version", "3.0"},
         true,
         true,
         true,
         "The tap answers as firmware 4.0.",
         "the tap answers as firmware 4.0.",
         0},
        {"generation 3, replugged",
         {"--generation", "3"},
         true,
         false,
         true,
         "The tap answers as firmware 4.0.",
         "the tap answers as firmware 4.0.",
         0},
        {"partial image, replugged",
         {"--generation", "3", "--drop-fraction", "0.3"},
         true,
         true,
         false,
         "The tap does not run the new firmware: run the update again",
         "the tap does not run the new firmware: it answers nothing",
         7},
        {"corrupted image that still answers",
         {"--generation", "3", "--drop-fraction", "0.3", "--boot-any-image"},
         true,
         false,
         false,
         "The tap answers as firmware 4.0.",
         "the tap answers as firmware 4.0.",
         0},
        {"hung tap, replugged",
         {"--silent", "--firmware-version", "3.0"},
         true,
         false,
         false,
         "The tap does not run the new firmware: run the update again",
         "the tap does not run the new firmware: it answers nothing",
         7},
        {"never replugged",
         {"--firmware-version", "0"},
         false,
         true,
         true,
         "Unplug and replug the tap to start the new firmware",
         "not unplugged and plugged in again within",
         6},
    };
    return rows;
}

// The table as QFETCH rows: a row's index into updateEndings(), on the beds it runs on.
template <typename RunsRow> void updateEndingRows(RunsRow runsRow)
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < updateEndings().size(); ++i) {
        if (runsRow(updateEndings().at(i).endToEnd))
            QTest::newRow(updateEndings().at(i).name) << i;
    }
}
