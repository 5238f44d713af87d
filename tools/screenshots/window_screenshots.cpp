// Takes the README's pictures of the window in its main states against the simulated tap.
// Run it through scripts/screenshots.sh (a virtual display and a private network namespace).
//
//   kalvessa_window_screenshots <output directory>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>

#include "MainWindow.h"
#include "TapTestBed.h"
#include "Translations.h"

namespace {

const QString Host = QStringLiteral("kvtap0");
const QString NotATapMac = QStringLiteral("02:00:00:00:00:01");
const QString TapMac = QStringLiteral("00:0e:c6:12:34:56");
constexpr int GiveUpMs = 30000;
constexpr int SettleMs = 300;
const QString AwaitingReplug =
    QStringLiteral("Unplug and replug the tap to start the new firmware");
const QString AnswersCurrent = QStringLiteral("The tap answers as firmware 4.0.");

bool waitFor(const std::function<bool()> &done, int timeoutMs = GiveUpMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

class Shooter
{
public:
    Shooter(MainWindow &window, const QString &directory) : w(window), dir(directory) {}

    // The window alone, or with whatever lies on top of it (a message) when fromScreen.
    bool shoot(const char *name, bool fromScreen = false)
    {
        QTest::qWait(SettleMs);  // let the last repaint land
        const QString path = dir.filePath(QLatin1String(name) + QStringLiteral(".png"));
        const QRect area = w.frameGeometry();
        const QPixmap picture = fromScreen ? QGuiApplication::primaryScreen()->grabWindow(
                                    0, area.x(), area.y(), area.width(), area.height())
                                           : w.grab();
        const bool saved = picture.save(path);
        std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
        return saved;
    }

    // A tap with these options, made to appear only once the simulator answers.
    bool attach(std::unique_ptr<TapTestBed> &bed, const QStringList &options)
    {
        bed.reset();
        bed = std::make_unique<TapTestBed>(Host, NotATapMac);
        if (!bed->plug() || !bed->startTap(options))
            return false;
        QProcess::execute(QStringLiteral("ip"), {"link", "set", Host, "address", TapMac});
        return waitFor([this] { return label("label_2") == QLatin1String("Kalvessa 100 found"); });
    }

    bool detach(std::unique_ptr<TapTestBed> &bed)
    {
        bed.reset();
        return waitFor(
            [this] { return label("label_2") == QLatin1String("Kalvessa 100 not found"); });
    }

    // A filter for IPv4 UDP from 192.168.1.x to one MAC vendor prefix, applied to the tap.
    bool applyExample()
    {
        if (!get<QAbstractButton>("checkBox")->isChecked())
            get<QAbstractButton>("checkBox")->click();
        const char *typed[23] = {"00", "0e", "c6", "",    "",    "",  "", "", "", "", "", "",
                                 "08", "00", "11", "192", "168", "1", "", "", "", "", ""};
        for (int i = 0; i < 23; ++i) {
            auto *field = w.findChild<QLineEdit *>(
                i == 0 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i + 1));
            field->clear();
            QTest::keyClicks(field, QLatin1String(typed[i]));
        }
        get<QAbstractButton>("radioButton")->click();
        auto *bar = get<QProgressBar>("progressBar");
        QTest::mouseClick(get<QPushButton>("pushButton_2"), Qt::LeftButton);
        return waitFor([bar] { return bar->maximum() != 0; });
    }

    // A dark desktop's colours, as a dark theme gives them to Qt's Fusion style.
    static QPalette darkPalette()
    {
        QPalette p;
        const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230), grey(128, 128, 128);
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::AlternateBase, window);
        p.setColor(QPalette::ToolTipBase, window);
        p.setColor(QPalette::ToolTipText, text);
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::Button, window);
        p.setColor(QPalette::ButtonText, text);
        p.setColor(QPalette::Highlight, QColor(42, 130, 218));
        p.setColor(QPalette::HighlightedText, Qt::black);
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            p.setColor(QPalette::Disabled, role, grey);
        return p;
    }

    QString label(const char *name) const
    {
        return w.findChild<QLabel *>(QLatin1String(name))->text();
    }
    template <typename T> T *get(const char *name) const
    {
        return w.findChild<T *>(QLatin1String(name));
    }

private:
    MainWindow &w;
    QDir dir;
};

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    QString why;
    if (!TapTestBed::namespaceReady(&why)) {
        std::fprintf(stderr, "needs a private network namespace (run scripts/screenshots.sh): %s\n",
                     qPrintable(why));
        return 1;
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));

    MainWindow w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    Shooter shooter(w, QString::fromLocal8Bit(argv[1]));
    std::unique_ptr<TapTestBed> bed;
    bool ok = shooter.shoot("no-tap");

    // A tap whose interface cannot be captured on (here: it is down).
    if (ok) {
        bed = std::make_unique<TapTestBed>(Host);
        ok = bed->plug() && bed->startTap({})
            && QProcess::execute(QStringLiteral("ip"), {"link", "set", Host, "down"}) == 0
            && waitFor([&shooter] {
                   return shooter.label("label_32") == QLatin1String("Tap not reachable");
               })
            && shooter.shoot("tap-not-reachable", true);
        bed.reset();
        QTest::qWait(1500);  // the worker notices the interface has gone
    }

    // Generation 4, up to date, with a filter applied; then edited, in German, on a dark desktop.
    ok = ok && shooter.attach(bed, {}) && shooter.applyExample()
        && shooter.shoot("generation4-up-to-date");
    if (ok) {
        QTest::keyClicks(shooter.get<QLineEdit>("lineEdit_6"), QStringLiteral("FF"));
        shooter.get<QAbstractButton>("checkBox_2")->click();
        ok = shooter.shoot("generation4-edited");
        shooter.get<QAbstractButton>("checkBox_2")->click();
        shooter.get<QLineEdit>("lineEdit_6")->clear();
    }
    if (ok) {
        const Translations german(QLocale(QLocale::German, QLocale::Germany));
        ok = german.loaded() && shooter.shoot("german");
    }
    if (ok) {
        const QPalette usual = QApplication::palette();
        QApplication::setPalette(Shooter::darkPalette());
        ok = shooter.shoot("dark-palette");
        QApplication::setPalette(usual);
    }
    ok = ok && shooter.detach(bed);

    // Generation 3: no answers, so the tool cannot tell its firmware and offers the update.
    ok = ok && shooter.attach(bed, {"--generation", "3"}) && shooter.shoot("generation3");
    ok = ok && shooter.detach(bed);
    // Generation 4 with firmware that needs the update, then while it is being updated.
    ok = ok && shooter.attach(bed, {"--firmware-version", "0", "--delay-ms", "3"});
    ok = ok && shooter.applyExample() && shooter.shoot("generation4-needs-update");
    if (ok) {
        auto *bar = shooter.get<QProgressBar>("progressBar");
        QTest::mouseClick(shooter.get<QPushButton>("pushButton_4"), Qt::LeftButton);
        ok = waitFor([bar] { return bar->maximum() == 100 && bar->value() >= 40; }, 120000)
            && shooter.shoot("generation4-updating");
        // Every page sent: the window waits for the tap to be unplugged and plugged in again.
        ok = ok && waitFor([&w] { return !w.firmwareUpdateRunning(); }, 300000)
            && waitFor([&shooter] { return shooter.label("label_32") == AwaitingReplug; })
            && shooter.shoot("generation4-update-sent");
        // Replugged (its link down, then up), the simulated tap restarts into the image it
        // was given and answers as 4.0.
        ok = ok && bed->setUp(false) && waitFor([&shooter] {
                 return shooter.label("label_2") != QLatin1String("Kalvessa 100 found");
             })
            && bed->setUp(true) && waitFor([&shooter] {
                   return shooter.label("feedbackLine").startsWith(AnswersCurrent);
               })
            && shooter.shoot("generation4-restarted");
    }
    ok = ok && shooter.detach(bed);

    // An update the tap refuses: the reason beside the status, the button offers another try.
    ok = ok && shooter.attach(bed, {"--firmware-version", "0", "--refuse-page", "3:1000"});
    if (ok) {
        QTest::mouseClick(shooter.get<QPushButton>("pushButton_4"), Qt::LeftButton);
        ok = waitFor([&w] { return !w.firmwareUpdateRunning(); }, 300000)
            && shooter.shoot("generation4-update-failed");
    }
    ok = ok && shooter.detach(bed);

    return ok ? 0 : 1;
}
