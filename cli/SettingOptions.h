#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include "SettingValues.h"
#include "SettingsPatch.h"

// The command-line option of each capture setting. Text output names settings by these
// options too, so what `show` prints can be typed back into `apply`.
namespace settingoptions {

QString nameOf(Setting setting);  // "eth-dst"
QList<QCommandLineOption> options();
// The settings given as options. False, with *error naming the option, when a value does not
// have its option's syntax.
bool read(const QCommandLineParser &parser, SettingsPatch *patch, QString *error);

}  // namespace settingoptions
