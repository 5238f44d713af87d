#pragma once

#include <QByteArray>
#include <QString>

// The first key that some object of `json` gives twice, compared as the keys read (escapes
// undone), qualified by the keys and array positions above it ("filter.eth_dst",
// "list[2].name"); empty when every key is given once. QJsonDocument keeps the last of
// repeated keys without a word, so a file could say two things and mean one. `json` must
// already have parsed as JSON.
QString repeatedJsonKey(const QByteArray &json);
