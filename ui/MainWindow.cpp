#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMenuBar>
#include <QPixmap>

#include "ActionButtons.h"
#include "ChosenTap.h"
#include "Detection.h"
#include "FileActions.h"
#include "FilterExpressionLine.h"
#include "KalvessaVersion.h"
#include "MainWindowForm.h"
#include "ResourcePaths.h"
#include "SettingsActions.h"
#include "SettingsForm.h"
#include "StatusPanel.h"
#include "TerminationSignals.h"
#include "UpdateFlow.h"
#include "WindowMessages.h"

namespace {

constexpr int DarkBelowLightness = 128;

const QString WindowTitle = QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION "[*]");

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<MainWindowForm>())
{
    m_ui->setupForm(this);
    setWindowTitle(WindowTitle);
    setWindowIcon(QIcon::fromTheme(ResourcePaths::ThemeIcon, QIcon(ResourcePaths::AppIcon)));

    m_messages = new WindowMessages(this);
    auto *buttons = new ActionButtons(m_ui->tabWidget, this);
    m_form = new SettingsForm(*m_ui, this);
    m_files = new FileActions(this, m_form, m_messages);
    // The form keeps the size it was drawn at; the window grows by the bar instead.
    if (!menuBar()->isNativeMenuBar())
        resize(width(), height() + menuBar()->sizeHint().height());
    m_panel = new StatusPanel(*m_ui, buttons, m_messages, this);
    m_settings = new SettingsActions(*m_ui, m_form, buttons, m_messages, this);
    m_update = new UpdateFlow(this);

    connect(m_form, &SettingsForm::changed, this, &MainWindow::renderEdits);
    // Under the keep/discard choice, so the expression sits beside the form it is made from.
    m_expression = new FilterExpressionLine(m_ui->tab);
    m_ui->verticalLayout_4->insertWidget(m_ui->verticalLayout_4->indexOf(m_ui->radioButton_2) + 1,
                                         m_expression);
    setTabOrder(m_ui->radioButton_2, m_expression);
    connect(m_form, &SettingsForm::changed, m_expression,
            [this] { m_expression->follow(m_form->settings()); });
    m_expression->follow(m_form->settings());
    connect(m_panel, &StatusPanel::updateClicked, m_update, &UpdateFlow::start);
    // One action at a time: the one that starts makes what the other said of its last old news.
    connect(m_settings, &SettingsActions::started, this, [this] {
        m_update->otherActionStarted();
        render();
    });
    connect(m_update, &UpdateFlow::started, this, [this] {
        m_settings->forgetOutcome();
        render();
    });

    auto *termination = new TerminationSignals(this);
    connect(termination, &TerminationSignals::received, this, &MainWindow::terminationSignal);

    m_detection = new Detection(this);
    connect(m_settings, &SettingsActions::writeRequested, m_detection, &Detection::requestWrite);
    connect(m_settings, &SettingsActions::readRequested, m_detection, &Detection::requestRead);
    connect(m_update, &UpdateFlow::updateRequested, m_detection, &Detection::requestUpdate);
    // The worker emits from its own thread, so these arrive queued, in this thread.
    connect(m_detection, &Detection::MV1Changed, this, &MainWindow::updateMV1Status);
    connect(m_detection, &Detection::MV1UpdateProgress, this, &MainWindow::updateProgress);
    connect(m_detection, &Detection::operationEnded, this, &MainWindow::operationEnded);
    connect(m_panel, &StatusPanel::tapChosen, this, &MainWindow::chooseTap);
    // The tap chosen in an earlier run, taken first when it is attached.
    if (const std::optional<MacAddress> chosen = chosentap::remembered())
        m_detection->requestChoose(*chosen);

    setLogo();
    nameForAccessibility();
    m_panel->fit(m_update->buttonTexts());
    render();  // no tap until the worker says otherwise
    m_detection->start(QThread::InheritPriority);
}

// The worker, a Qt child, is destroyed with the window: it ends its loop (after an update under
// way), waits for it and releases the tap before the window's widgets go.
MainWindow::~MainWindow() = default;

bool MainWindow::firmwareUpdateRunning() const
{
    return m_update->running();
}

// ---- what the worker reports ----

void MainWindow::updateMV1Status()
{
    present(m_detection->snapshot(), {});
}

void MainWindow::updateProgress(int percent)
{
    m_update->progress(percent);
    renderBar();
}

// The worker publishes what a request changed before it says how the request ended.
void MainWindow::operationEnded()
{
    present(m_detection->snapshot(), m_detection->takeOutcomes());
}

void MainWindow::present(const TapSnapshot &snapshot, const QList<TapOutcome> &outcomes)
{
    // By its address: a tap whose interface was renamed is still the one the form was for.
    const bool newlyFound =
        snapshot.present && (!m_tap.present || snapshot.address != m_tap.address);
    m_tap = snapshot;
    m_settings->takeIn(m_tap, newlyFound, outcomes);
    m_update->takeIn(m_tap, newlyFound, outcomes);
    render();
    m_panel->tellProblem(m_tap);

    if (m_update->endDue())
        end();
}

// The edits in the form are for the tap held; another tap's settings replace them, as a read
// does, so the person is asked as a read asks.
void MainWindow::chooseTap(const MacAddress &address)
{
    if (busy()
        || !m_settings->mayReplaceEdits(tr("Choose a tap"),
                                        tr("The chosen tap's settings replace them."))) {
        render();  // the list shows the tap held again
        return;
    }
    if (!chosentap::remember(address))
        WindowMessages::print(tr("The chosen tap cannot be remembered for the next start."));
    m_detection->requestChoose(address);
}

// ---- drawing ----

bool MainWindow::busy() const
{
    return m_settings->pending() || m_update->running();
}

void MainWindow::render()
{
    m_panel->showTap(m_tap);
    m_form->setTapPresent(m_tap.present);
    renderLines();
    renderButtons();
    renderBar();
    renderEdits();
}

void MainWindow::renderLines()
{
    QString line = m_update->line();
    if (line.isEmpty())
        line = m_settings->failureLine();
    if (line.isEmpty())
        line = m_panel->problemLine(m_tap);
    m_panel->showProblem(line);
    m_panel->showFeedback(feedbackLine());
}

// Why no action may start now; empty when they may.
QString MainWindow::whyActionsWait() const
{
    if (!m_tap.present)
        return tr("No Kalvessa 100 is attached.");
    if (const QString why = m_update->whyActionsWait(); !why.isEmpty())
        return why;
    if (busy())
        return tr("Waiting for the tap to finish the last request.");
    return {};
}

void MainWindow::renderButtons()
{
    const QString why = whyActionsWait();
    m_settings->showButtons(m_tap, why);
    const UpdateFlow::Button update = m_update->button();
    m_panel->showUpdateButton(update.text, update.purpose, why.isEmpty() && update.offered, why);
    // Without a tap held another may still be chosen; never during a request or an update.
    QString whyNoChoice = m_update->whyActionsWait();
    if (whyNoChoice.isEmpty() && busy())
        whyNoChoice = tr("Waiting for the tap to finish the last request.");
    m_panel->allowChoosing(whyNoChoice.isEmpty(), whyNoChoice);
    m_files->setOpenEnabled(!m_settings->pending());
}

void MainWindow::renderBar()
{
    m_panel->showProgress(m_settings->pending() ? std::nullopt : m_update->barValue());
}

void MainWindow::renderEdits()
{
    m_form->markEdits();
    setWindowModified(m_form->edited());
    m_panel->showFeedback(feedbackLine());
}

QString MainWindow::feedbackLine() const
{
    QStringList sentences;
    for (const QString &done : {m_settings->doneLine(), m_update->doneLine()}) {
        if (!done.isEmpty())
            sentences << done;
    }
    if (m_tap.present && !busy())
        sentences << m_settings->formLine(m_tap);
    return sentences.join(QLatin1Char(' '));
}

void MainWindow::nameForAccessibility()
{
    m_form->nameForAccessibility();
    m_panel->nameForAccessibility();
    m_ui->logo->setAccessibleName(tr("Kalvessa wordmark"));
}

void MainWindow::setLogo()
{
    // The window's own palette: its children learn of a new one only after the window does.
    const QColor behind = palette().color(QPalette::Window);
    m_ui->logo->setPixmap(QPixmap(
        behind.lightness() < DarkBelowLightness ? ResourcePaths::LogoOnDark : ResourcePaths::Logo));
}

// ---- closing ----

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_ending && !m_update->mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

// An interrupted update can leave the tap unusable, so a request to end waits for it.
void MainWindow::terminationSignal(int number)
{
    if (m_update->deferEnd(number)) {
        renderLines();
        return;
    }
    end();
}

void MainWindow::end()
{
    m_ending = true;
    close();
    // Also ends the loops of any question still open.
    QCoreApplication::quit();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (!m_update)
        return;  // still being built
    switch (event->type()) {
    case QEvent::LanguageChange:
        // The form's own texts come back as placeholders; the state is drawn again over them.
        m_ui->retranslateForm(this);
        setWindowTitle(WindowTitle);
        nameForAccessibility();
        m_files->nameMenu();
        m_expression->retranslate();
        m_panel->fit(m_update->buttonTexts());
        render();
        break;
    case QEvent::PaletteChange:
        setLogo();
        renderEdits();
        break;
    default: break;
    }
}
