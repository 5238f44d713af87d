#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

// Files people keep. Reading stops at a limit, since a path may name a device or a stream that
// never ends (/dev/zero, a pipe); writing replaces the file whole or leaves it as it was.
namespace wholefile {

// Everything `input` holds (a file, a pipe, standard input) when it ends within `limit` bytes;
// nothing when it holds more or cannot be read, *error then saying which.
std::optional<QByteArray> readAll(QIODevice &input, qint64 limit, QString *error);

// `content` becomes the whole of the regular file at `path`, or of a new file there; it keeps
// the mode of the file it replaces. A symbolic link is followed to the regular file it names,
// which is replaced while the link stays. Anything else at `path` (a device, a pipe, a folder,
// a link to nothing) is refused, and on every failure the old file stays as it was; *error
// then gives the reason.
bool replace(const QString &path, const QByteArray &content, QString *error);

}  // namespace wholefile
