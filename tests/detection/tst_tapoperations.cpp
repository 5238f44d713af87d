// The tap service and the operations the worker and the command-line tool share, on a tap
// taken through it: how the taking and each operation end, against the simulated tap.
#include <QTest>

#include <algorithm>

#include "FirmwareImage.h"
#include "InProcessTaps.h"
#include "TapBed.h"
#include "TapOperations.h"
#include "TapService.h"

using Action = TapOutcome::Action;
using Result = TapOutcome::Result;
using Opened = TapOpening::Result;
using Link = LinkError::Kind;

namespace {
// In the capture library's words, as an interface that cannot be made promiscuous has it.
const std::string NoPromiscuous = "That device doesn't support promiscuous mode";
}  // namespace

class TapOperationsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_BED(); }

    // A tap is taken for a generation only where its answers can be heard; otherwise it is not
    // usable, with the reason and what the link said (the privilege only helps NoPrivilege).
    void takenOnlyWhereItCanBeHeard_data()
    {
        QTest::addColumn<int>("mtu");  // 0: the link down
        QTest::addColumn<bool>("warns");  // no promiscuous mode
        QTest::addColumn<bool>("heard");
        QTest::addColumn<Opened>("result");
        QTest::addColumn<int>("generation");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<Link>("cause");
        const QString mtu = QStringLiteral("kvtap0's MTU is 100; the tap's frames need 1500: `ip "
                                           "link set dev kvtap0 mtu 1500`");
        const QString deaf = QString::fromStdString("kvtap0: " + NoPromiscuous)
            + QStringLiteral("; the tap's answers, addressed to 00:00:00:00:00:00, may never "
                             "reach this host");
        QTest::newRow("MTU too small")
            << 100 << false << true << Opened::Unreachable << 0 << mtu << Link::FrameTooLong;
        QTest::newRow("link down")
            << 0 << false << true << Opened::Unreachable << 0
            << "kvtap0 is down: `ip link set dev kvtap0 up`" << Link::InterfaceDown;
        if (!TapBed::endToEnd()) {  // no kernel interface warns on demand
            QTest::newRow("warned and deaf: never generation 3")
                << 1500 << true << false << Opened::Unreachable << 0 << deaf << Link::Other;
            QTest::newRow("warned but heard")
                << 1500 << true << true << Opened::Opened << 4 << "" << Link::Other;
        }
    }

    void takenOnlyWhereItCanBeHeard()
    {
        QFETCH(int, mtu);
        QFETCH(bool, warns);
        QFETCH(bool, heard);
        QFETCH(Opened, result);
        QFETCH(int, generation);
        QFETCH(QString, reason);
        QFETCH(Link, cause);
        const std::unique_ptr<TapBed> bed = TapBed::make();
        QVERIFY(bed->plug() && bed->startTap());
        QVERIFY(mtu > 0 ? bed->setMtu(mtu) : bed->setUp(false));
        if (warns)
            InProcessTaps::instance()
                .line(bed->hostInterface())
                ->setOpenWarning(NoPromiscuous, heard);
        const TapOpening opening = openTap(bed->hostInterface());
        QCOMPARE(opening.result, result);
        QCOMPARE(opening.tap ? opening.tap->generation() : 0, generation);
        QCOMPARE(opening.reason, reason);
        QCOMPARE(opening.cause, cause);
        // Passed on with the interface's name, whatever became of the tap.
        QCOMPARE(opening.warnings,
                 warns ? QStringList{QString::fromStdString("kvtap0: " + NoPromiscuous)}
                       : QStringList());
        if (mtu > 0 && mtu < 1500)
            QVERIFY(bed->frames().isEmpty());
    }

    void outcomes_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<Action>("action");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QString>("failure");
        QTest::newRow("stored") << QStringList() << Action::Store << Result::Succeeded << "";
        QTest::newRow("stored copy refused")
            << QStringList{"--wrong-code", "80:ff"} << Action::Store << Result::Failed
            << "register 0x70000, refused with code 0xFF";
        QTest::newRow("updated") << QStringList() << Action::Update << Result::Succeeded << "";
        // A tap that answers nothing can only be sent to.
        QTest::newRow("one-way write")
            << QStringList{"--generation", "3"} << Action::Write << Result::SentUnconfirmed << "";
        QTest::newRow("one-way read")
            << QStringList{"--generation", "3"} << Action::Read << Result::Failed
            << "register 0x70000, a generation-3 tap cannot be read back";
    }

    void outcomes()
    {
        QFETCH(QStringList, options);
        QFETCH(Action, action);
        QFETCH(Result, result);
        QFETCH(QString, failure);
        const std::unique_ptr<TapBed> bed = TapBed::make();
        QVERIFY(bed->plug() && bed->startTap(options));
        TapOpening opening = openTap(bed->hostInterface());
        QVERIFY(opening.tap);
        HeldTap &tap = *opening.tap;

        QList<int> percent;
        DeviceSettings settings;
        TapOutcome outcome;
        switch (action) {
        case Action::Write:
        case Action::Store:
            outcome = tapoperation::writeSettings(tap, settings, action == Action::Store);
            break;
        case Action::Read: outcome = tapoperation::readSettings(tap, &settings); break;
        case Action::Update:
            outcome = tapoperation::updateFirmware(
                tap, firmwareImage, firmwareImageLength,
                [&](const OperationProgress &p) { percent << p.percent; });
            break;
        }
        QCOMPARE(outcome.action, action);
        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.failure.text(), failure);
        // Of a store, the working copy took the settings; the stored one refused them.
        QCOMPARE(outcome.storedCopy, !failure.isEmpty() && action == Action::Store);
        if (action == Action::Update) {
            QVERIFY(std::is_sorted(percent.begin(), percent.end()));
            QCOMPARE(percent.first(), 0);
            QCOMPARE(percent.last(), 100);
        }
    }
};

QTEST_GUILESS_MAIN(TapOperationsTest)
#include "tst_tapoperations.moc"
