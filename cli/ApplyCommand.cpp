#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <optional>

#include "Commands.h"
#include "Console.h"
#include "SettingOptions.h"
#include "SettingsFile.h"
#include "TapAccess.h"
#include "TapOperations.h"

namespace {

using console::tr;

// What a folder of declared settings offers a tap that has no file of its own.
constexpr QLatin1String DefaultProfileName("default.json");

// The file the folder declares for the tap; empty when it declares none. A link that leads
// nowhere is still the tap's own file, so it is found wanting rather than passed over for the
// default.
QString declaredFile(const QString &folder, const MacAddress &address)
{
    const QDir dir(folder);
    for (const QString &name : {tapaccess::profileFileName(address), QString(DefaultProfileName)}) {
        const QFileInfo file(dir.filePath(name));
        if (file.exists() || file.isSymLink())
            return file.filePath();
    }
    return QString();
}

// The tap a selector names, by its MAC address; nothing, with the reason printed and *failure
// set, when it cannot be found.
std::optional<MacAddress> addressOf(const QString &selector, ExitCode *failure)
{
    const QStringList named = selector.isEmpty() ? QStringList() : QStringList{selector};
    const std::optional<QList<tapaccess::Target>> found =
        tapaccess::targets(named, selector.isEmpty(), failure);
    if (!found)
        return std::nullopt;
    if (found->size() == 1 && found->first().address != MacAddress{})
        return found->first().address;
    // Several taps and none named, or a name that is not a tap's: taking it says why.
    const tapaccess::Taken taken = tapaccess::take(selector, tapaccess::Choice::OnlyOne);
    if (!taken.tap) {
        *failure = taken.failure;
        return std::nullopt;
    }
    return taken.tap->address();
}

}  // namespace

std::optional<SettingsPatch> requestedSettings(const QString &profilePath,
                                               const SettingsPatch &options)
{
    const std::optional<SettingsPatch> patch = givenSettings(profilePath, options);
    if (patch && patch->isEmpty()) {
        console::err(tr("Nothing to apply: give a settings file with --profile, or setting options "
                        "(kalvessa100ctl apply --help lists them)."));
        return std::nullopt;
    }
    return patch;
}

std::optional<SettingsPatch> givenSettings(const QString &profilePath, const SettingsPatch &options)
{
    SettingsPatch patch;
    if (!profilePath.isEmpty()) {
        QString error;
        QFile input;
        const bool standardInput = profilePath == StandardStream;
        if (standardInput)
            input.open(stdin, QIODevice::ReadOnly);
        const std::optional<SettingsPatch> loaded = standardInput
            ? SettingsFile::read(input, tr("standard input"), &error)
            : SettingsFile::load(profilePath, &error);
        if (!loaded) {
            console::err(error);
            return std::nullopt;
        }
        patch = *loaded;
    }
    patch.overlay(options);
    return patch;
}

ExitCode applyDeclared(const QString &selector, const QString &folder, const ApplyRequest &request,
                       QJsonObject *document)
{
    ExitCode failure = ExitCode::Success;
    const std::optional<MacAddress> address = addressOf(selector, &failure);
    if (!address)
        return failure;
    const QString mac = tapaccess::macText(*address);
    const QString path = declaredFile(folder, *address);
    if (path.isEmpty()) {
        const QString why =
            tr("%1: %2 holds neither %3 nor %4; the tap is left as it is.")
                .arg(mac, folder, tapaccess::profileFileName(*address), DefaultProfileName);
        if (console::jsonMode())
            *document = QJsonObject{{QStringLiteral("skipped"), why},
                                    {QStringLiteral("changed"), false},
                                    {QStringLiteral("written"), false}};
        else
            console::note(why);
        return ExitCode::Success;
    }

    QString error;
    bool store = false;
    std::optional<SettingsPatch> declared = SettingsFile::load(path, &error, &store);
    if (!declared) {
        console::err(error);
        return ExitCode::BadInput;
    }
    declared->overlay(request.settings);
    ApplyRequest own = request;
    own.settings = *declared;
    own.store = request.store || store;
    console::info(
        tr("%1: applying %2%3").arg(mac, path, own.store ? tr(" (to be stored)") : QString()));
    // Named by its address, so the settings reach the tap whose file was read even if its
    // interface was renamed meanwhile.
    const ExitCode code = applySettings(mac, own, document);
    if (code == ExitCode::Success && console::jsonMode())
        document->insert(QStringLiteral("profile"), path);
    return code;
}
