#include "DeviceFailure.h"

#include <QCoreApplication>

#include "FrameLayout.h"

namespace {

QString hex(int value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

// Qt's own argument order, so that the translation tools see the counted texts as plurals.
QString tr(const char *text, const char *disambiguation = nullptr, int n = -1)
{
    return QCoreApplication::translate("DeviceFailure", text, disambiguation, n);
}

}  // namespace

DeviceFailure DeviceFailure::during(Step step, int where, int of)
{
    DeviceFailure failure;
    failure.step = step;
    failure.where = where;
    failure.of = of;
    return failure;
}

DeviceFailure DeviceFailure::ofLink(const LinkError &error, const std::string &interface, int mtu,
                                    Cause otherwise) const
{
    DeviceFailure failure = *this;
    failure.detail = error.text;
    failure.interfaceName = interface;
    failure.link = error.kind;
    switch (error.kind) {
    case LinkError::Kind::FrameTooLong:
        failure.cause = Cause::FrameTooLong;
        failure.count = mtu;
        failure.wanted = frame::NeededMtu;
        break;
    case LinkError::Kind::InterfaceDown: failure.cause = Cause::InterfaceDown; break;
    case LinkError::Kind::InterfaceGone: failure.cause = Cause::InterfaceGone; break;
    case LinkError::Kind::Other:
    case LinkError::Kind::NoPrivilege:
    case LinkError::Kind::NotATap: failure.cause = otherwise; break;
    }
    return failure;
}

DeviceFailure DeviceFailure::at(Step newStep, int newWhere, int newOf) const
{
    DeviceFailure moved = *this;
    moved.step = newStep;
    moved.where = newWhere;
    moved.of = newOf;
    return moved;
}

bool DeviceFailure::interfaceFault() const
{
    switch (cause) {
    case Cause::CannotOpen:
    case Cause::CannotSend:
    case Cause::CaptureError:
    case Cause::FrameTooLong:
    case Cause::InterfaceDown:
    case Cause::InterfaceGone: return true;
    default: return false;
    }
}

QString DeviceFailure::text() const
{
    QString stepText;
    switch (step) {
    case Step::None: break;
    case Step::Probe: stepText = tr("probe"); break;
    case Step::Register: stepText = tr("register %1").arg(hex(where)); break;
    case Step::Erase: stepText = tr("erase of sector %1").arg(hex(where)); break;
    case Step::Commit: stepText = tr("commit"); break;
    case Step::Begin: stepText = tr("begin"); break;
    case Step::Page: stepText = tr("page %1 of %2").arg(where).arg(of); break;
    case Step::End: stepText = tr("end"); break;
    case Step::Image: stepText = tr("firmware image"); break;
    case Step::Interface: stepText = tr("interface"); break;
    }

    const bool pageTries = step == Step::Page;
    QString causeText;
    switch (cause) {
    case Cause::None: return stepText;
    case Cause::NoReply:
        causeText = pageTries ? tr("no reply in %n tries", nullptr, count)
                              : tr("no reply after %n sends", nullptr, count);
        break;
    case Cause::Refused:
        // A page is tried again and again; how often it was refused says more than the code.
        if (pageTries)
            return tr("%1 refused %n times", nullptr, count).arg(stepText);
        causeText = tr("refused with code %1").arg(hex(code));
        break;
    case Cause::CannotOpen:
        causeText = tr("cannot capture on the interface: %1").arg(QString::fromStdString(detail));
        break;
    case Cause::CannotSend:
        causeText = tr("could not send: %1").arg(QString::fromStdString(detail));
        break;
    case Cause::CaptureError:
        causeText = tr("capture failed: %1").arg(QString::fromStdString(detail));
        break;
    case Cause::FrameTooLong: {
        const QString name = QString::fromStdString(interfaceName);
        causeText = count > 0 ? tr("%1's MTU is %2; the tap's frames need %3: `ip link set dev %1 "
                                   "mtu %3`")
                                    .arg(name)
                                    .arg(count)
                                    .arg(wanted)
                              : tr("%1's MTU is too small; the tap's frames need %2: `ip link set "
                                   "dev %1 mtu %2`")
                                    .arg(name)
                                    .arg(wanted);
        break;
    }
    case Cause::InterfaceDown:
        causeText =
            tr("%1 is down: `ip link set dev %1 up`").arg(QString::fromStdString(interfaceName));
        break;
    case Cause::InterfaceGone:
        causeText =
            tr("%1 went away and did not come back").arg(QString::fromStdString(interfaceName));
        break;
    case Cause::ReadsBack:
        causeText = tr("reads back %1 instead of %2").arg(hex(code), hex(wanted));
        break;
    case Cause::Disagree: causeText = tr("readings disagree"); break;
    case Cause::Unreadable: causeText = tr("a generation-3 tap cannot be read back"); break;
    case Cause::NoPageWrites:
        causeText = tr("generation 4 takes firmware through page programming");
        break;
    case Cause::NoCommit: causeText = tr("a generation-3 tap has no commit step"); break;
    case Cause::NoTap: causeText = tr("no tap is attached"); break;
    case Cause::TooLarge: causeText = tr("%1 bytes do not fit in %2").arg(count).arg(wanted); break;
    }
    return stepText.isEmpty() ? causeText : stepText + QLatin1String(", ") + causeText;
}
