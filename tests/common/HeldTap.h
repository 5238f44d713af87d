#pragma once

#include <QByteArray>

#include <algorithm>
#include <memory>

#include "TapLock.h"

// "00:0e:c6:12:34:56" as the lock knows it.
inline TapLock::Address lockAddress(const char *mac)
{
    TapLock::Address address{};
    const QByteArray bytes = QByteArray::fromHex(QByteArray(mac).replace(':', ""));
    std::copy(bytes.begin(), bytes.end(), address.begin());
    return address;
}

// This process takes the tap's lock as the tap service does; empty when it could not.
inline std::unique_ptr<TapLock> holdTapLock(const char *mac)
{
    std::unique_ptr<TapLock> lock;
    qint64 owner = 0;
    QString error;
    if (TapLock::acquire(lockAddress(mac), &lock, &owner, &error) != TapLock::Result::Taken)
        lock.reset();
    return lock;
}
