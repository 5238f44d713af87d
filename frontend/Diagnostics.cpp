#include "Diagnostics.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstring>

Q_LOGGING_CATEGORY(lcFrontend, "kalvessa.frontend", QtInfoMsg)

namespace {

constexpr const char OurCategories[] = "kalvessa.";

std::atomic<std::FILE *> target{nullptr};
std::atomic<QtMessageHandler> qtHandler{nullptr};
std::atomic<bool> onlyOnce{false};
// Bounded, so a stream of distinct lines cannot grow it without end; past the bound lines are
// written again.
constexpr qsizetype MaxRemembered = 256;
QMutex rememberedMutex;
QSet<QString> remembered;

// False for a warning or note already written, when each is to be written once.
bool firstTime(QtMsgType type, const QString &message)
{
    if (!onlyOnce.load() || type == QtDebugMsg)
        return true;
    const QMutexLocker locker(&rememberedMutex);
    if (remembered.contains(message))
        return false;
    if (remembered.size() < MaxRemembered)
        remembered.insert(message);
    return true;
}

bool ours(const char *category)
{
    return category != nullptr
        && std::strncmp(category, OurCategories, sizeof OurCategories - 1) == 0;
}

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    std::FILE *stream = target.load();
    if (stream == nullptr || type == QtFatalMsg || !ours(context.category)) {
        if (const QtMessageHandler qt = qtHandler.load())
            qt(type, context, message);
        return;
    }
    if (!firstTime(type, message))
        return;
    QByteArray line;
    if (type == QtDebugMsg)
        line = QByteArray(context.category) + ": ";
    line += message.toLocal8Bit() + '\n';
    // One write per line, so lines from two threads never interleave.
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stream);
    std::fflush(stream);
}

}  // namespace

void diagnostics::writeTo(std::FILE *stream, Repeats repeats)
{
    onlyOnce.store(repeats == Repeats::Once);
    target.store(stream);
    // Installed once: installing again would make this handler its own predecessor.
    static const bool installed = [] {
        qtHandler.store(qInstallMessageHandler(handle));
        return true;
    }();
    Q_UNUSED(installed);
}
