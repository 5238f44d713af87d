#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "CapturePreview.h"
#include "Detection.h"
#include "FilterExpressionLine.h"
#include "FilterFields.h"
#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "KalvessaVersion.h"
#include "MainWindowForm.h"
#include "ResourcePaths.h"
#include "SettingsFile.h"
#include "TerminationSignals.h"

namespace {

constexpr uint8_t ControlByteFromForm = 255;
constexpr int HexDigitsPerByte = 2;
constexpr int PercentFull = 100;
constexpr int DarkBelowLightness = 128;
constexpr int ReadableGeneration = 4;  // a generation-3 tap answers nothing
// How much of the selection colour tints a field that differs from the tap.
constexpr double EditedTint = 0.3;

const QString NoValue = QStringLiteral("-");
const QString FirmwareTypeShown = QStringLiteral("TF");
const QString UnrecognisedVersionShown = QStringLiteral("3.0");
const QString WindowTitle = QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION "[*]");
const QString TimeShown = QStringLiteral("HH:mm:ss");
const QString SettingsSuffix = QStringLiteral("json");
const QString SuggestedSettingsName = QStringLiteral("kalvessa100-settings.json");

int slot(TapOutcome::Action action)
{
    return static_cast<int>(action);
}

QString hexAddress(const MacAddress &address)
{
    QStringList bytes;
    for (uint8_t byte : address)
        bytes << QStringLiteral("%1").arg(byte, HexDigitsPerByte, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(':'));
}

QColor blend(const QColor &from, const QColor &to, double share)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() * (1 - share) + to.redF() * share),
                            static_cast<float>(from.greenF() * (1 - share) + to.greenF() * share),
                            static_cast<float>(from.blueF() * (1 - share) + to.blueF() * share));
}

// The simulated tap's wrapper and the test bed say so; there a firmware update needs no
// question, since no real tap can be harmed.
bool nextToSimulatedTap()
{
    return !qEnvironmentVariableIsEmpty("KALVESSA_SIMULATED_TAP");
}

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<MainWindowForm>())
{
    m_ui->setupForm(this);
    setWindowTitle(WindowTitle);
    setWindowIcon(QIcon::fromTheme(ResourcePaths::ThemeIcon, QIcon(ResourcePaths::AppIcon)));
    // Settings files need no tap: a configuration can be prepared before the tap is plugged in.
    m_fileMenu = menuBar()->addMenu(QString());
    m_fileMenu->setToolTipsVisible(true);  // no status bar shows the status tips
    m_openSettings = m_fileMenu->addAction(QString(), this, &MainWindow::openSettings);
    m_openSettings->setObjectName(QStringLiteral("openSettings"));
    m_openSettings->setShortcuts(QKeySequence::Open);
    m_saveSettings = m_fileMenu->addAction(QString(), this, &MainWindow::saveSettings);
    m_saveSettings->setObjectName(QStringLiteral("saveSettings"));
    // There is no plain Save, so Ctrl+S saves as; the desktop's own Save As keys work too.
    QList<QKeySequence> saveKeys{QKeySequence(Qt::CTRL | Qt::Key_S)};
    for (const QKeySequence &keys : QKeySequence::keyBindings(QKeySequence::SaveAs)) {
        if (!saveKeys.contains(keys))
            saveKeys << keys;
    }
    m_saveSettings->setShortcuts(saveKeys);
    m_capturePreview = new CapturePreview(this, [this] { return formSettings(); });
    m_fileMenu->addAction(m_capturePreview->action());
    m_fileMenu->addSeparator();
    m_quit = m_fileMenu->addAction(QString(), this, &MainWindow::close);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    nameMenu();
    // The form keeps the size it was drawn at; the window grows by the bar instead.
    if (!menuBar()->isNativeMenuBar())
        resize(width(), height() + menuBar()->sizeHint().height());

    QFont strong = m_ui->label_32->font();
    strong.setBold(true);
    m_ui->label_32->setFont(strong);

    m_fields = new FilterFields(
        {m_ui->lineEdit,    m_ui->lineEdit_2,  m_ui->lineEdit_3,  m_ui->lineEdit_4,
         m_ui->lineEdit_5,  m_ui->lineEdit_6,  m_ui->lineEdit_7,  m_ui->lineEdit_8,
         m_ui->lineEdit_9,  m_ui->lineEdit_10, m_ui->lineEdit_11, m_ui->lineEdit_12,
         m_ui->lineEdit_13, m_ui->lineEdit_14, m_ui->lineEdit_15, m_ui->lineEdit_16,
         m_ui->lineEdit_17, m_ui->lineEdit_18, m_ui->lineEdit_19, m_ui->lineEdit_20,
         m_ui->lineEdit_21, m_ui->lineEdit_22, m_ui->lineEdit_23},
        this);
    // Under the keep/discard choice, so the expression sits beside the form it is made from.
    m_expression = new FilterExpressionLine(m_ui->tab);
    m_ui->verticalLayout_4->insertWidget(m_ui->verticalLayout_4->indexOf(m_ui->radioButton_2) + 1,
                                         m_expression);
    setTabOrder(m_ui->radioButton_2, m_expression);
    const auto followForm = [this] { m_expression->follow(formSettings()); };
    for (QLineEdit *field : m_fields->fields()) {
        connect(field, &QLineEdit::textChanged, this, &MainWindow::renderEditedMarks);
        connect(field, &QLineEdit::textChanged, this, followForm);
    }
    for (QAbstractButton *box : std::initializer_list<QAbstractButton *>{
             m_ui->checkBox, m_ui->checkBox_2, m_ui->checkBox_3, m_ui->checkBox_4,
             m_ui->radioButton, m_ui->radioButton_2}) {
        connect(box, &QAbstractButton::toggled, this, &MainWindow::renderEditedMarks);
        connect(box, &QAbstractButton::toggled, this, followForm);
    }
    connect(m_ui->checkBox, &QAbstractButton::toggled, this, &MainWindow::render);
    followForm();

    connect(m_ui->pushButton, &QPushButton::clicked, this, &MainWindow::readCurrentSetup);
    connect(m_ui->pushButton_2, &QPushButton::clicked, this, [this] { postWrite(false); });
    connect(m_ui->pushButton_3, &QPushButton::clicked, this, [this] { postWrite(true); });
    connect(m_ui->pushButton_4, &QPushButton::clicked, this, &MainWindow::startUpdate);

    // Where focus goes back to when the button that had it turns itself off.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && m_ui->tabWidget->currentWidget()->isAncestorOf(now))
            m_lastFormFocus = now;
    });

    auto *termination = new TerminationSignals(this);
    connect(termination, &TerminationSignals::received, this, &MainWindow::terminationSignal);

    m_detection = new Detection(this);
    // The worker emits from its own thread, so these arrive queued, in this thread.
    connect(m_detection, &Detection::MV1Changed, this, &MainWindow::updateMV1Status);
    connect(m_detection, &Detection::MV1UpdateProgress, this, &MainWindow::updateProgress);
    connect(m_detection, &Detection::MV1FinishedUpdate, this, &MainWindow::updateFinished);
    connect(m_detection, &Detection::MV1FailedUpdate, this, &MainWindow::updateFailed);

    setLogo();
    nameForAccessibility();
    fitPanel();
    render();  // no tap until the worker says otherwise
    m_detection->start(QThread::InheritPriority);
}

// The worker, a Qt child, is destroyed with the window: it ends its loop (after an update under
// way), waits for it and releases the tap before the window's widgets go.
MainWindow::~MainWindow() = default;

// ---- what the worker reports ----

void MainWindow::updateMV1Status()
{
    present(m_detection->snapshot(), m_detection->takeOutcomes());
}

void MainWindow::updateProgress(int percent)
{
    if (m_update != UpdateShown::Updating)
        return;
    m_progress = std::clamp(percent, 0, PercentFull);
    renderBar();
}

// The worker records how the update ended before it says so; the outcome carries the reason.
void MainWindow::updateFinished()
{
    updateMV1Status();
}

void MainWindow::updateFailed()
{
    updateMV1Status();
}

void MainWindow::present(const TapSnapshot &snapshot, const QList<TapOutcome> &outcomes)
{
    const bool newlyFound =
        snapshot.present && (!m_tap.present || snapshot.interfaceName != m_tap.interfaceName);
    m_tap = snapshot;
    if (newlyFound) {
        m_done.reset();  // said of the tap before this one
        if (m_update == UpdateShown::Completed)
            m_update = UpdateShown::Nothing;  // reset after its update: tell what it runs now
    }

    // The form is refilled only when there is news of the tap's settings, so edits survive
    // every other report (a changed address, a problem with another interface).
    bool settingsNews = false;
    for (const TapOutcome &outcome : outcomes) {
        takeOutcome(outcome);
        settingsNews = settingsNews || outcome.action != TapOutcome::Action::Update;
    }
    if (m_tap.present && settingsNews) {
        fillForm(m_tap.settings);
    } else if (m_tap.present && newlyFound) {
        // Settings opened from a file were prepared for the tap that comes next; they stay, and
        // the marks tell where it differs, until Apply, Flash or Read takes the tap's.
        if (m_formFromFile)
            m_formSource = m_tap.settings;
        else
            fillForm(m_tap.settings);
    }
    offerUpdateFor(m_tap.settings);
    render();
    tellProblem();

    if (m_endAfterUpdate && m_update != UpdateShown::Updating)
        end();
}

void MainWindow::takeOutcome(const TapOutcome &outcome)
{
    m_pending[slot(outcome.action)] = false;
    if (outcome.action == TapOutcome::Action::Update) {
        m_update = outcome.succeeded ? UpdateShown::Completed : UpdateShown::Failed;
        m_progress = outcome.succeeded ? PercentFull : 0;
    }
    if (outcome.succeeded) {
        m_done = outcome;
        return;
    }
    m_failure = outcome;
    std::fprintf(stderr, "%s\n", qUtf8Printable(failureLine(outcome)));
    std::fflush(stderr);
    const bool write =
        outcome.action == TapOutcome::Action::Write || outcome.action == TapOutcome::Action::Store;
    if (write) {
        showMessage(tr("Settings not acknowledged"),
                    tr("The tap did not acknowledge the settings (%1), so they may not be in "
                       "effect. The form shows what is known of the tap's settings, not what "
                       "was entered; check the tap's connection and try again.")
                        .arg(outcome.failure));
    }
}

void MainWindow::offerUpdateFor(const DeviceSettings &settings)
{
    if (m_update == UpdateShown::Updating || m_update == UpdateShown::Completed
        || m_update == UpdateShown::Failed)
        return;
    if (!m_tap.present)
        m_update = UpdateShown::Nothing;
    else if (!firmwarestatus::recognised(settings))
        m_update = UpdateShown::Offered;
    else if (firmwarestatus::current(settings))
        m_update = UpdateShown::UpToDate;
    // Any other recognised release keeps what the button offered.
}

void MainWindow::fillForm(const DeviceSettings &settings)
{
    m_formSource = settings;
    m_formFromFile = false;
    showInForm(settings);
}

void MainWindow::showInForm(const DeviceSettings &settings)
{
    m_ui->checkBox->setChecked(settings.filterEnabled() != 0);
    m_ui->radioButton->setChecked(settings.keepMatching() != 0);
    m_ui->radioButton_2->setChecked(settings.keepMatching() == 0);
    m_fields->show(settings);
    m_ui->checkBox_2->setChecked(settings.timestampsEnabled() != 0);
    m_ui->checkBox_3->setChecked(settings.captureCrcErrorFrames() != 0);
    m_ui->checkBox_4->setChecked(settings.captureFcs() != 0);
}

void MainWindow::settingsFromForm(DeviceSettings &settings) const
{
    settings.setFilterMode(m_ui->checkBox->isChecked() ? 1 : 0,
                           m_ui->radioButton->isChecked() ? 1 : 0);
    settings.setTimestampsEnabled(m_ui->checkBox_2->isChecked() ? 1 : 0);
    settings.setCaptureCrcErrorFrames(m_ui->checkBox_3->isChecked() ? 1 : 0);
    settings.setCaptureFcs(m_ui->checkBox_4->isChecked() ? 1 : 0);
    settings.setControlByte(ControlByteFromForm);
    m_fields->read(settings);
}

DeviceSettings MainWindow::formSettings() const
{
    DeviceSettings settings;
    settingsFromForm(settings);
    return settings;
}

// ---- drawing ----

bool MainWindow::busy() const
{
    return std::any_of(m_pending.begin(), m_pending.end(), [](bool pending) { return pending; });
}

void MainWindow::render()
{
    renderStatus();
    renderLines();
    renderButtons();
    renderBar();
    renderEditedMarks();
}

void MainWindow::renderStatus()
{
    const bool present = m_tap.present;
    m_ui->label_2->setText(present ? tr("Kalvessa 100 found") : tr("Kalvessa 100 not found"));
    m_ui->label->setPixmap(QPixmap(present ? ResourcePaths::GreenLight : ResourcePaths::RedLight));
    m_ui->label->setAccessibleDescription(present ? tr("tap found") : tr("tap not found"));
    m_ui->label_4->setText(present && m_tap.address ? hexAddress(*m_tap.address) : NoValue);
    m_ui->label_6->setText(present ? firmwareTypeShown() : NoValue);
    m_ui->label_8->setText(present ? firmwareVersionShown() : NoValue);

    m_ui->checkBox->setEnabled(present);
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_ui->checkBox_2, m_ui->checkBox_3, m_ui->checkBox_4})
        w->setEnabled(present);
    const bool filterOn = present && m_ui->checkBox->isChecked();
    m_fields->setEnabled(filterOn);
    m_ui->radioButton->setEnabled(filterOn);
    m_ui->radioButton_2->setEnabled(filterOn);
}

QString MainWindow::firmwareTypeShown() const
{
    return firmwarestatus::recognised(m_tap.settings) ? FirmwareTypeShown : NoValue;
}

QString MainWindow::firmwareVersionShown() const
{
    const uint16_t version = m_tap.settings.firmwareVersion();
    if (!firmwarestatus::recognised(m_tap.settings))
        return UnrecognisedVersionShown;
    return QStringLiteral("%1.%2")
        .arg(firmwarestatus::major(version))
        .arg(firmwarestatus::minor(version));
}

QString MainWindow::failureLine(const TapOutcome &outcome) const
{
    switch (outcome.action) {
    case TapOutcome::Action::Update: return tr("Update failed: %1").arg(outcome.failure);
    case TapOutcome::Action::Read: return tr("Settings not read: %1").arg(outcome.failure);
    case TapOutcome::Action::Write:
    case TapOutcome::Action::Store: break;
    }
    return tr("Settings not acknowledged: %1").arg(outcome.failure);
}

QString MainWindow::problemLine() const
{
    if (m_tap.present)
        return {};
    const TapProblem &problem = m_tap.problem;
    switch (problem.kind) {
    case TapProblem::Kind::None: return {};
    case TapProblem::Kind::Unreachable: return tr("Tap not reachable");
    case TapProblem::Kind::InUse:
        return problem.ownerPid > 0
            ? tr("Tap in use by another program (PID %1)").arg(problem.ownerPid)
            : tr("Tap in use by another program");
    case TapProblem::Kind::Unsettled:
        return tr("The tap's answers cannot be told from the network's traffic; trying again");
    }
    return {};
}

QString MainWindow::feedbackLine() const
{
    QStringList sentences;
    if (m_done) {
        const QString at = m_done->finishedAt.toString(TimeShown);
        switch (m_done->action) {
        case TapOutcome::Action::Write: sentences << tr("Applied at %1.").arg(at); break;
        case TapOutcome::Action::Store: sentences << tr("Stored in the tap at %1.").arg(at); break;
        case TapOutcome::Action::Read: sentences << tr("Read from the tap at %1.").arg(at); break;
        case TapOutcome::Action::Update: sentences << tr("Firmware written at %1.").arg(at); break;
        }
    }
    if (m_tap.present && !busy()) {
        if (edited())
            sentences << tr("Marked fields are not in the tap yet.");
        else if (m_tap.generation != ReadableGeneration)
            sentences << tr("A generation-3 tap cannot be read back.");
        else
            sentences << tr("The form shows what the tap holds.");
    }
    return sentences.join(QLatin1Char(' '));
}

void MainWindow::renderLines()
{
    QString line;
    if (m_update == UpdateShown::Updating)
        line = m_endAfterUpdate
            ? tr("Updating: do not unplug the adapter. The program ends afterwards.")
            : tr("Updating: do not unplug the adapter");
    else if (m_failure)
        line = failureLine(*m_failure);
    else
        line = problemLine();
    m_ui->label_32->setText(line);
    m_ui->feedbackLine->setText(feedbackLine());
}

void MainWindow::renderButtons()
{
    const bool present = m_tap.present;
    const bool idle = present && !busy();
    const bool readable = m_tap.generation == ReadableGeneration;
    const QString why = !present            ? tr("No Kalvessa 100 is attached.")
        : m_update == UpdateShown::Updating ? tr("Not while the firmware is being updated.")
        : busy()                            ? tr("Waiting for the tap to finish the last request.")
                                            : QString();
    const auto tell = [](QPushButton *button, const QString &purpose, const QString &reason) {
        button->setToolTip(button->isEnabled() || reason.isEmpty()
                               ? purpose
                               : purpose + QLatin1Char('\n') + reason);
    };

    QString updateText;
    QString updatePurpose;
    bool updateOffered = false;
    switch (m_update) {
    case UpdateShown::Nothing: break;
    case UpdateShown::Offered:
        updateText = tr("Update to 4.0");
        updatePurpose = tr("Write firmware 4.0 into the tap.");
        updateOffered = true;
        break;
    case UpdateShown::UpToDate:
        updateText = tr("Firmware up-to-date\nVersion 4.0");
        updatePurpose = tr("The tap runs firmware 4.0 already.");
        break;
    case UpdateShown::Updating:
        updateText = tr("Updating...\nDo not unplug the adapter");
        updatePurpose = tr("The firmware is being written into the tap.");
        break;
    case UpdateShown::Completed:
        updateText = tr("Update completed\nPlease reset the adapter");
        updatePurpose = tr("Unplug the tap and plug it in again to start the new firmware.");
        break;
    case UpdateShown::Failed:
        updateText = tr("Update failed\n");
        updatePurpose = tr("Try the firmware update again.");
        updateOffered = true;
        break;
    }

    const bool readOn = idle && readable;
    const bool writeOn = idle;
    const bool updateOn = idle && updateOffered;
    const auto turningOff = [this](QWidget *w, bool on) { return !on && w->hasFocus(); };
    if (turningOff(m_ui->pushButton, readOn) || turningOff(m_ui->pushButton_2, writeOn)
        || turningOff(m_ui->pushButton_3, writeOn) || turningOff(m_ui->pushButton_4, updateOn))
        keepFocusInForm();

    m_ui->pushButton->setEnabled(readOn);
    m_ui->pushButton_2->setEnabled(writeOn);
    m_ui->pushButton_3->setEnabled(writeOn);
    m_ui->pushButton_4->setEnabled(updateOn);
    m_ui->pushButton_4->setText(updateText);
    // The answer to a read or write refills the form, and would replace what a file put there.
    m_openSettings->setEnabled(!m_pending[slot(TapOutcome::Action::Read)]
                               && !m_pending[slot(TapOutcome::Action::Write)]
                               && !m_pending[slot(TapOutcome::Action::Store)]);

    tell(m_ui->pushButton, tr("Fill the form with the settings the tap holds."),
         present && !busy() && !readable ? tr("A generation-3 tap cannot be read back.") : why);
    tell(m_ui->pushButton_2,
         tr("Send the settings to the tap; they last until it is switched off."), why);
    tell(m_ui->pushButton_3,
         tr("Send the settings to the tap and store them there, so they survive a power cycle."),
         why);
    tell(m_ui->pushButton_4,
         updatePurpose.isEmpty() ? tr("Updates the tap's firmware when it needs it.")
                                 : updatePurpose,
         why);
}

void MainWindow::renderBar()
{
    QProgressBar *bar = m_ui->progressBar;
    const bool updating = m_update == UpdateShown::Updating;
    if (busy() && !(updating && m_progress >= 0)) {
        bar->setRange(0, 0);  // a bar with no range shows activity, not a value
        return;
    }
    bar->setRange(0, PercentFull);
    bar->setValue(updating || m_update == UpdateShown::Completed ? std::max(m_progress, 0) : 0);
}

bool MainWindow::edited() const
{
    if (!m_formSource)
        return false;
    DeviceSettings shown;
    settingsFromForm(shown);
    const DeviceSettings &held = *m_formSource;
    return !m_fields->differingFrom(held).isEmpty()
        || m_ui->checkBox->isChecked() != (held.filterEnabled() != 0)
        || m_ui->radioButton->isChecked() != (held.keepMatching() != 0)
        || shown.timestampsEnabled() != held.timestampsEnabled()
        || shown.captureCrcErrorFrames() != held.captureCrcErrorFrames()
        || shown.captureFcs() != held.captureFcs();
}

void MainWindow::renderEditedMarks()
{
    const DeviceSettings held = m_formSource.value_or(DeviceSettings());
    const QList<QLineEdit *> differing =
        m_formSource ? m_fields->differingFrom(held) : QList<QLineEdit *>();
    const QString mark = tr("changed, not in the tap yet");
    for (QLineEdit *field : m_fields->fields()) {
        const bool marked = differing.contains(field);
        QPalette palette;  // an empty palette: the field follows the window's again
        if (marked) {
            palette = field->parentWidget()->palette();
            palette.setColor(QPalette::Base,
                             blend(palette.color(QPalette::Base),
                                   palette.color(QPalette::Highlight), EditedTint));
        }
        field->setPalette(palette);
        field->setAccessibleDescription(marked ? mark : QString());
    }

    const auto differs = [this, &held](QAbstractButton *box, bool inTap) {
        return m_formSource && box->isChecked() != inTap;
    };
    const std::pair<QAbstractButton *, bool> boxes[] = {
        {m_ui->checkBox, held.filterEnabled() != 0},
        {m_ui->radioButton, held.keepMatching() != 0},
        {m_ui->radioButton_2, held.keepMatching() == 0},
        {m_ui->checkBox_2, held.timestampsEnabled() != 0},
        {m_ui->checkBox_3, held.captureCrcErrorFrames() != 0},
        {m_ui->checkBox_4, held.captureFcs() != 0},
    };
    for (const auto &[box, inTap] : boxes) {
        const bool marked = differs(box, inTap);
        QFont font = box->parentWidget()->font();
        font.setBold(marked);
        box->setFont(marked ? font : QFont());
        box->setAccessibleDescription(marked ? mark : QString());
    }
    setWindowModified(edited());
    m_ui->feedbackLine->setText(feedbackLine());
}

void MainWindow::nameForAccessibility()
{
    m_fields->nameForAccessibility();
    m_ui->label->setAccessibleName(tr("Status light"));
    m_ui->progressBar->setAccessibleName(tr("Progress"));
    m_ui->logo->setAccessibleName(tr("Kalvessa wordmark"));
    m_ui->label_32->setAccessibleName(tr("Problem"));
    m_ui->feedbackLine->setAccessibleName(tr("Last action"));
}

void MainWindow::nameMenu()
{
    m_fileMenu->setTitle(tr("F&ile"));  // Alt+F is the Filter tab's
    m_openSettings->setText(tr("&Open Settings..."));
    const QString openPurpose =
        tr("Fill the form with settings from a file. Nothing reaches the tap "
           "until Apply or Flash; settings the file leaves out stay as the "
           "form shows them.");
    m_openSettings->setToolTip(openPurpose);
    m_openSettings->setStatusTip(openPurpose);
    m_saveSettings->setText(tr("&Save Settings As..."));
    const QString savePurpose = tr("Write the settings the form shows into a file, for this window "
                                   "or kalvessa100ctl.");
    m_saveSettings->setToolTip(savePurpose);
    m_saveSettings->setStatusTip(savePurpose);
    m_capturePreview->retranslate();
    m_quit->setText(tr("&Quit"));
}

// The panel keeps one width and height whatever it shows: the update button is as large as
// its largest text, the status as wide as its widest.
void MainWindow::fitPanel()
{
    QPushButton *update = m_ui->pushButton_4;
    const QString shown = update->text();
    QSize largest;
    for (const QString &text :
         {tr("Update to 4.0"), tr("Firmware up-to-date\nVersion 4.0"),
          tr("Updating...\nDo not unplug the adapter"),
          tr("Update completed\nPlease reset the adapter"), tr("Update failed\n")}) {
        update->setText(text);
        largest = largest.expandedTo(update->sizeHint());
    }
    update->setText(shown);
    update->setMinimumSize(largest);

    const QFontMetrics metrics(m_ui->label_2->font());
    m_ui->label_2->setMinimumWidth(
        std::max(metrics.horizontalAdvance(tr("Kalvessa 100 found")),
                 metrics.horizontalAdvance(tr("Kalvessa 100 not found"))));
}

void MainWindow::setLogo()
{
    // The window's own palette: its children learn of a new one only after the window does.
    const QColor behind = palette().color(QPalette::Window);
    m_ui->logo->setPixmap(QPixmap(
        behind.lightness() < DarkBelowLightness ? ResourcePaths::LogoOnDark : ResourcePaths::Logo));
}

// ---- actions ----

void MainWindow::startAction(TapOutcome::Action action)
{
    m_failure.reset();
    m_done.reset();
    m_pending[slot(action)] = true;
    if (m_update == UpdateShown::Failed)
        m_update = UpdateShown::Nothing;
    offerUpdateFor(m_tap.settings);
    render();
}

void MainWindow::postWrite(bool store)
{
    DeviceSettings settings;
    settings.clear();
    settingsFromForm(settings);
    startAction(store ? TapOutcome::Action::Store : TapOutcome::Action::Write);
    m_detection->requestWrite(settings, store);
}

void MainWindow::readCurrentSetup()
{
    if (edited() && !confirmDiscardEdits())
        return;
    startAction(TapOutcome::Action::Read);
    m_detection->requestRead();
}

void MainWindow::startUpdate()
{
    if (!nextToSimulatedTap() && !confirmUpdate())
        return;
    startAction(TapOutcome::Action::Update);
    m_update = UpdateShown::Updating;
    m_progress = -1;
    render();
    m_detection->requestUpdate();
}

// A button that turns itself off would hand focus to the next widget that takes it, the tab
// bar; the form is where the user goes on.
void MainWindow::keepFocusInForm()
{
    QWidget *page = m_ui->tabWidget->currentWidget();
    QWidget *target =
        m_lastFormFocus && page->isAncestorOf(m_lastFormFocus) ? m_lastFormFocus.data() : nullptr;
    if (!target || !target->isEnabled()) {
        target = nullptr;
        for (QWidget *w = page->nextInFocusChain(); w != page; w = w->nextInFocusChain()) {
            if (page->isAncestorOf(w) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
                target = w;
                break;
            }
        }
    }
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}

// The tap is left alone: the form shows the file's settings until the user sends them.
void MainWindow::openSettings()
{
    const QString path = askForSettingsFile(QFileDialog::AcceptOpen);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<SettingsPatch> patch = SettingsFile::load(path, &error);
    if (!patch) {
        showMessage(
            tr("Settings not opened"),
            tr("The settings file was not opened:\n%1\n\nThe form is left as it was.").arg(error));
        return;
    }
    showInForm(patch->appliedTo(formSettings()));
    m_formFromFile = true;
    render();
}

void MainWindow::saveSettings()
{
    const QString path = askForSettingsFile(QFileDialog::AcceptSave);
    if (path.isEmpty())
        return;
    QString error;
    if (!SettingsFile::save(path, formSettings(), &error))
        showMessage(tr("Settings not saved"), tr("The settings were not saved:\n%1").arg(error));
}

// The path chosen, or nothing when the user cancelled. Without a folder of its own yet the
// dialog starts in the working directory.
QString MainWindow::askForSettingsFile(QFileDialog::AcceptMode mode)
{
    const bool opening = mode == QFileDialog::AcceptOpen;
    QFileDialog dialog(this, opening ? tr("Open Settings") : tr("Save Settings As"),
                       m_settingsFolder);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(opening ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters({tr("Kalvessa 100 settings (*.json)"), tr("All files (*)")});
    if (!opening) {
        dialog.setDefaultSuffix(SettingsSuffix);
        dialog.selectFile(SuggestedSettingsName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    m_settingsFolder = QFileInfo(path).absolutePath();
    return path;
}

// ---- questions and messages ----

bool MainWindow::confirmUpdate()
{
    const QString type = m_ui->label_6->text();
    const QString version = m_ui->label_8->text();
    QStringList text;
    text << (type == NoValue ? tr("The tap runs a firmware this program does not recognise (shown "
                                  "as version %1).")
                                   .arg(version)
                             : tr("The tap runs firmware %1, version %2.").arg(type, version));
    text << tr("The update writes firmware 4.0 into it.");
    if (firmwareImageIsStandIn) {
        text << tr(
            "This build carries a stand-in firmware image, not the tap's firmware. Flashing it "
            "into a real Kalvessa 100 would leave the tap unusable. Build with the real image "
            "(see the README, \"Firmware image\") to update a real tap.");
    }
    text << tr("Keep the tap plugged in until the update has completed: an interrupted update can "
               "leave it unusable.");
    text << (firmwareImageIsStandIn ? tr("Flash the stand-in anyway?")
                                    : tr("Update the firmware now?"));

    QMessageBox box(QMessageBox::Warning, tr("Firmware update"), text.join(QStringLiteral("\n\n")),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool MainWindow::confirmDiscardEdits()
{
    QMessageBox box(QMessageBox::Question, tr("Read Current Setup"),
                    tr("The marked fields are not in the tap yet. Reading the tap's settings "
                       "replaces them.\n\nDiscard your changes?"),
                    QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Discard;
}

bool MainWindow::confirmCloseDuringUpdate()
{
    QMessageBox box(QMessageBox::Warning, tr("Firmware update running"),
                    tr("The tap's firmware is being updated. An interrupted update can leave the "
                       "tap unusable.\n\nClose anyway? The program ends once the update has "
                       "finished; do not unplug the tap until then."),
                    QMessageBox::Close | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Close;
}

// A tap that cannot be captured on is said once in a message, with what to do about it; the
// line in the panel stays while it lasts.
void MainWindow::tellProblem()
{
    const TapProblem problem = m_tap.present ? TapProblem() : m_tap.problem;
    if (problem == m_toldProblem)
        return;
    m_toldProblem = problem;
    if (problem.kind != TapProblem::Kind::Unreachable) {
        if (m_messageBox && m_messageBox->property("problem").toBool())
            m_messageBox->close();
        return;
    }
    showMessage(
        tr("The tap cannot be reached"),
        tr("The tap is attached as %1, but this program cannot capture on that interface:\n%2\n\n"
           "Capturing needs a privilege. With the program installed from its Debian package, "
           "join the group \"kalvessa\" and log in again:\n"
           "    sudo usermod -aG kalvessa $USER\n\n"
           "For a program built from source, grant the privilege to the program itself:\n"
           "    sudo setcap cap_net_raw,cap_net_admin=eip %3")
            .arg(problem.interfaceName, problem.reason, QCoreApplication::applicationFilePath()));
    m_messageBox->setProperty("problem", true);
}

// Details in a dialog that does not block the window; a newer one replaces it.
void MainWindow::showMessage(const QString &title, const QString &details)
{
    if (m_messageBox)
        m_messageBox->close();
    auto *box = new QMessageBox(QMessageBox::Warning, title, details, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    m_messageBox = box;
    box->show();
}

// ---- closing ----

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (firmwareUpdateRunning() && !m_ending && !confirmCloseDuringUpdate()) {
        event->ignore();
        return;
    }
    event->accept();
}

// An interrupted update can leave the tap unusable, so a request to end waits for it.
void MainWindow::terminationSignal(int number)
{
    if (firmwareUpdateRunning()) {
        std::fprintf(stderr, "Signal %d: ending once the firmware update has finished.\n", number);
        std::fflush(stderr);
        m_endAfterUpdate = true;
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
    if (!m_fields)
        return;  // still being built
    switch (event->type()) {
    case QEvent::LanguageChange:
        // The form's own texts come back as placeholders; the state is drawn again over them.
        m_ui->retranslateForm(this);
        setWindowTitle(WindowTitle);
        nameForAccessibility();
        nameMenu();
        m_expression->retranslate();
        fitPanel();
        render();
        break;
    case QEvent::PaletteChange:
        setLogo();
        renderEditedMarks();
        break;
    default: break;
    }
}
