// How responsive the window stays while it works with the tap, against the simulated tap.
//
// A 5 ms timer in the GUI thread records the gaps between its firings while "Apply",
// "Read Current Setup" and a firmware update run; the largest gap is the longest stall of
// the event loop. Also: the time from a click on "Apply" until the form shows the answer.
// Runs inside a private network namespace (bench/run-all.sh). Prints figures only.
//
//   bench_ui [--rounds N]
#include <algorithm>
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Detection.h"
#include "MainWindow.h"
#include "BenchTap.h"

namespace {

const QString TapName = QStringLiteral("kvtap0");
constexpr int ProbeIntervalMs = 5;
constexpr int GiveUpMs = 120000;
constexpr int TickMs = 1000;
constexpr int PollIntervalMs = 10;

// Gaps between the firings of a fast timer: anything much above its interval is time the
// event loop could not run.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(ProbeIntervalMs);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                worst = std::max(worst, now - last);
            last = now;
        });
    }
    void start()
    {
        worst = 0;
        last = -1;
        clock.start();
        timer.start();
    }
    double stop()
    {
        timer.stop();
        return worst / 1e6;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worst = 0;
};

// Runs the event loop until the condition holds; false on giving up.
template <typename Condition> bool waitFor(Condition done, int timeoutMs = GiveUpMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, ProbeIntervalMs);
    }
    return true;
}

void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename T> T *widget(MainWindow &w, const char *name)
{
    return w.findChild<T *>(QLatin1String(name));
}

struct Figures
{
    QList<double> values;
    void add(double v) { values << v; }
    void print(const char *what, const char *goal) const
    {
        if (values.isEmpty()) {
            std::printf("%s: no figures\n", what);
            return;
        }
        QList<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        std::printf("%s over %d runs: min %.1f ms, median %.1f ms, max %.1f ms%s\n", what,
                    int(sorted.size()), sorted.first(), sorted.at(sorted.size() / 2), sorted.last(),
                    goal);
    }
};

// One click on a request button: the stall while it runs and the time until the answer
// is shown (the busy bar ends).
bool measureRequest(MainWindow &w, const char *buttonName, Figures &stall, Figures &answer)
{
    auto *button = widget<QPushButton>(w, buttonName);
    auto *bar = widget<QProgressBar>(w, "progressBar");
    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    const bool answered = waitFor([bar] { return bar->maximum() != 0; });
    const double took = clock.nsecsElapsed() / 1e6;
    idleFor(TickMs / 4);  // the rest of the worker's tick, which the GUI may wait on
    stall.add(meter.stop());
    if (answered)
        answer.add(took);
    return answered;
}

// Calls the worker's getters every 10 ms from the GUI thread, as a busy window would: none of
// them may wait for the tap.
class GetterPoller : public QObject
{
public:
    explicit GetterPoller(MainWindow &w) : m_worker(w.findChild<Detection *>())
    {
        m_timer.setInterval(PollIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            DeviceSettings settings;
            uint8_t mac[6];
            m_worker->copySettings(settings);
            m_worker->deviceHardwareAddress(mac);
            m_worker->snapshot();
        });
        m_timer.start();
    }

private:
    Detection *m_worker;
    QTimer m_timer;
};

// A firmware update from the click to its end: how long it took and the largest stall.
void measureUpdate(MainWindow &w, const char *what)
{
    auto *update = widget<QPushButton>(w, "pushButton_4");
    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(update, Qt::LeftButton);
    const bool done = waitFor([&w] { return !w.firmwareUpdateRunning(); });
    const double took = clock.elapsed() / 1000.0;
    idleFor(TickMs / 4);
    const double stall = meter.stop();
    std::printf("%s firmware update: %s in %.1f s; largest GUI stall %.1f ms (goal <= 20 ms); "
                "button: %s\n",
                what, done ? "ended" : "did not end", took, stall,
                qPrintable(update->text().replace(QLatin1Char('\n'), QLatin1String(" / "))));
}

bool openWindowOn(TapTestBed &bed, const QStringList &options, std::unique_ptr<MainWindow> &w)
{
    w.reset();
    bed.stopTap();
    if (!bed.startTap(options)) {
        std::printf("cannot start the simulated tap\n");
        return false;
    }
    w = std::make_unique<MainWindow>();
    w->show();
    auto *status = widget<QLabel>(*w, "label_2");
    if (!waitFor([status] { return status->text() == QLatin1String("Kalvessa 100 found"); })) {
        std::printf("the simulated tap was not found\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!benchNamespaceReady())
        return 1;
    const QStringList arguments = app.arguments();
    const int at = int(arguments.indexOf(QStringLiteral("--rounds")));
    const int rounds = at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : 20;

    TapTestBed bed(TapName);
    if (!bed.plug())
        return 1;
    std::unique_ptr<MainWindow> w;
    // Firmware of another type: both Read Current Setup and the update are offered.
    if (!openWindowOn(bed, {"--firmware-type", "1234"}, w))
        return 1;
    auto poller = std::make_unique<GetterPoller>(*w);
    widget<QLineEdit>(*w, "lineEdit")->setText(QStringLiteral("0a"));
    widget<QLineEdit>(*w, "lineEdit_16")->setText(QStringLiteral("192"));

    Figures applyStall, applyAnswer, readStall, readAnswer;
    for (int round = 0; round < rounds; ++round) {
        idleFor(round * TickMs / std::max(rounds, 1) % TickMs);  // click at every phase of the tick
        measureRequest(*w, "pushButton_2", applyStall, applyAnswer);
        idleFor((round * 7 + 3) * TickMs / (7 * std::max(rounds, 1)) % TickMs);
        measureRequest(*w, "pushButton", readStall, readAnswer);
    }
    applyStall.print("largest GUI stall during Apply", " (goal <= 20 ms)");
    readStall.print("largest GUI stall during Read Current Setup", " (goal <= 20 ms)");
    applyAnswer.print("click on Apply to refreshed form", " (goal: median <= 20 ms)");
    readAnswer.print("click on Read Current Setup to refreshed form", "");
    measureUpdate(*w, "generation-4");

    poller.reset();  // it polls the window's worker, which goes with the window
    if (!openWindowOn(bed, {"--generation", "3"}, w))
        return 1;
    poller = std::make_unique<GetterPoller>(*w);
    measureUpdate(*w, "generation-3");
    std::fflush(stdout);
    return 0;
}
