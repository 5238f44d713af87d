#include "RepeatedJsonKey.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <vector>

namespace {

struct Level
{
    bool isObject = false;
    QString path;
    QSet<QString> keys;
    QString lastKey;
    int index = 0;  // of the array's element being read
};

QString joined(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

// Where the string that opens at `start` ends: its closing quote.
qsizetype stringEnd(const QByteArray &json, qsizetype start)
{
    qsizetype at = start + 1;
    while (at < json.size() && json[at] != '"')
        at += json[at] == '\\' ? 2 : 1;
    return at;
}

// The key as the parser reads it, "\u0061" and "a" alike.
QString unescaped(const QByteArray &quoted)
{
    return QJsonDocument::fromJson('[' + quoted + ']').array().first().toString();
}

}  // namespace

QString repeatedJsonKey(const QByteArray &json)
{
    std::vector<Level> levels;
    bool keyNext = false;
    for (qsizetype at = 0; at < json.size(); ++at) {
        switch (json[at]) {
        case '{':
        case '[': {
            Level level;
            level.isObject = json[at] == '{';
            if (!levels.empty()) {
                const Level &outer = levels.back();
                level.path = outer.isObject ? joined(outer.path, outer.lastKey)
                                            : outer.path + QStringLiteral("[%1]").arg(outer.index);
            }
            levels.push_back(std::move(level));
            keyNext = levels.back().isObject;
            break;
        }
        case '}':
        case ']': levels.pop_back(); break;
        case ',':
            if (levels.back().isObject)
                keyNext = true;
            else
                ++levels.back().index;
            break;
        case '"': {
            const qsizetype end = stringEnd(json, at);
            if (keyNext) {
                Level &object = levels.back();
                object.lastKey = unescaped(json.mid(at, end - at + 1));
                if (object.keys.contains(object.lastKey))
                    return joined(object.path, object.lastKey);
                object.keys.insert(object.lastKey);
                keyNext = false;
            }
            at = end;
            break;
        }
        default: break;
        }
    }
    return {};
}
