#include "MainWindow.h"

#include <QCloseEvent>
#include <QIcon>
#include <QIntValidator>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <initializer_list>

#include "Detection.h"
#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "KalvessaVersion.h"
#include "MainWindowForm.h"
#include "ResourcePaths.h"

namespace {

// At most two characters, each a digit, a lower-case hex letter or a comma. The comma is
// admitted on purpose: the binding reads it as a byte that is compared against 0.
const QString HexByteFieldPattern = QStringLiteral("[0-9,a-f]{0,2}");
constexpr int OctetMinimum = 0;
constexpr int OctetMaximum = 255;

constexpr uint8_t ControlByteFromForm = 255;
constexpr int Hexadecimal = 16;
constexpr int Decimal = 10;
constexpr int ByteMask = 0xFF;
constexpr int HexByteDigits = 2;

constexpr int DigitZero = 48;  // the version bytes are shown as digit characters

constexpr int PercentFull = 100;
constexpr int BusyBarMaximum = 0;  // a bar with no range shows activity, not a value

const QString StatusFound = QStringLiteral("Kalvessa 100 found");
const QString StatusNotFound = QStringLiteral("Kalvessa 100 not found");
const QString NoValue = QStringLiteral("-");
const QString FirmwareTypeShown = QStringLiteral("TF");
const QString UnrecognisedVersionShown = QStringLiteral("3.0");
const QString OfferUpdate = QStringLiteral("Update to 4.0");
const QString UpToDate = QStringLiteral("Firmware up-to-date\nVersion 4.0");
const QString Updating = QStringLiteral("Updating...\nDo not unplug the adapter");
const QString UpdateCompleted = QStringLiteral("Update completed\nPlease reset the adapter");
const QString UpdateFailed = QStringLiteral("Update failed\n");

const QString CaptureGuide = QStringLiteral(
    "When the permission to capture is missing, the section \"Capture privilege\" in the "
    "README explains how to grant it.");

// One address field of the form: its byte fields, their care bits and number base.
struct FieldGroup
{
    QList<QLineEdit *> fields;
    int base;
};

// Care bits run from the group's highest (first byte) down to 0x01 (last byte).
uint8_t careBit(qsizetype index, qsizetype width)
{
    return static_cast<uint8_t>(1u << (width - 1 - index));
}

void readGroup(const FieldGroup &group, uint8_t *bytes, uint8_t *mask)
{
    const qsizetype width = group.fields.size();
    *mask = 0;
    for (qsizetype i = 0; i < width; ++i) {
        bytes[i] = 0;
        const QString text = group.fields[i]->text();
        if (text.isEmpty())
            continue;
        // Not a number in this base (a lone comma, say) reads as 0 and is still compared.
        bytes[i] = static_cast<uint8_t>(text.toUInt(nullptr, group.base) & ByteMask);
        *mask |= careBit(i, width);
    }
}

void showGroup(const FieldGroup &group, const uint8_t *bytes, uint8_t mask)
{
    const qsizetype width = group.fields.size();
    for (qsizetype i = 0; i < width; ++i) {
        QString text;
        if (mask & careBit(i, width)) {
            text = group.base == Hexadecimal
                ? QStringLiteral("%1").arg(bytes[i], HexByteDigits, Hexadecimal, QLatin1Char('0'))
                : QString::number(bytes[i]);
        }
        group.fields[i]->setText(text);
    }
}

QString hexAddress(const MainWindow::HardwareAddress &address)
{
    QString text = QStringLiteral("%1:%2:%3:%4:%5:%6");
    for (uint8_t byte : address)
        text = text.arg(byte, HexByteDigits, Hexadecimal, QLatin1Char('0'));
    return text;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
    setWindowTitle(QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION));
    setLogo(ResourcePaths::Logo);
    ui->label_2->setText(StatusNotFound);

    detection = new Detection(this);
    // The worker emits from its own thread, so these arrive queued, in this thread.
    connect(detection, &Detection::MV1Changed, this, &MainWindow::updateMV1Status);
    connect(detection, &Detection::MV1UpdateProgress, this, &MainWindow::updateProgress);
    connect(detection, &Detection::MV1FinishedUpdate, this, &MainWindow::updateFinished);
    connect(detection, &Detection::MV1FailedUpdate, this, &MainWindow::updateFailed);

    installValidators();
    setStatusIcon(false);
    detection->start(QThread::InheritPriority);
}

// The worker, a Qt child, is destroyed with the window: it ends its loop, waits for it and
// releases the tap before the window's widgets go.
MainWindow::~MainWindow() = default;

void MainWindow::installValidators()
{
    // The validators belong to the window: they are shared by the fields and live exactly
    // as long as the fields that use them.
    auto *hex = new QRegularExpressionValidator(QRegularExpression(HexByteFieldPattern), this);
    for (QLineEdit *field : {ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4,
                             ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7, ui->lineEdit_8,
                             ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11, ui->lineEdit_12,
                             ui->lineEdit_13, ui->lineEdit_14, ui->lineEdit_15})
        field->setValidator(hex);

    auto *octet = new QIntValidator(OctetMinimum, OctetMaximum, this);
    for (QLineEdit *field : {ui->lineEdit_16, ui->lineEdit_17, ui->lineEdit_18, ui->lineEdit_19,
                             ui->lineEdit_20, ui->lineEdit_21, ui->lineEdit_22, ui->lineEdit_23})
        field->setValidator(octet);
}

void MainWindow::setStatusIcon(bool present)
{
    const QString &path = present ? ResourcePaths::GreenLight : ResourcePaths::RedLight;
    ui->label->setPixmap(QPixmap(path));
    setWindowIcon(QIcon(path));
}

void MainWindow::setLogo(const QString &path)
{
    ui->logo->setPixmap(QPixmap(path));
}

// ---- form and settings ----

void MainWindow::settingsFromForm(DeviceSettings &settings) const
{
    settings.setFilterMode(ui->checkBox->checkState() == Qt::Checked ? 1 : 0,
                           ui->radioButton->isChecked() ? 1 : 0);
    settings.setTimestampsEnabled(ui->checkBox_2->checkState() == Qt::Checked ? 1 : 0);
    settings.setCaptureCrcErrorFrames(ui->checkBox_3->checkState() == Qt::Checked ? 1 : 0);
    settings.setCaptureFcs(ui->checkBox_4->checkState() == Qt::Checked ? 1 : 0);
    settings.setControlByte(ControlByteFromForm);

    uint8_t mac[DeviceSettings::MacLength];
    uint8_t etherType[DeviceSettings::EtherTypeLength];
    uint8_t protocol[1];
    uint8_t ip[DeviceSettings::IpLength];
    uint8_t mask = 0;

    readGroup({{ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4, ui->lineEdit_5,
                ui->lineEdit_6}, Hexadecimal}, mac, &mask);
    settings.setDstMac(mac);
    settings.setDstMacMask(mask);
    readGroup({{ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11,
                ui->lineEdit_12}, Hexadecimal}, mac, &mask);
    settings.setSrcMac(mac);
    settings.setSrcMacMask(mask);
    readGroup({{ui->lineEdit_13, ui->lineEdit_14}, Hexadecimal}, etherType, &mask);
    settings.setEtherType(etherType);
    settings.setEtherTypeMask(mask);
    readGroup({{ui->lineEdit_15}, Hexadecimal}, protocol, &mask);
    settings.setProtocol(protocol[0]);
    settings.setProtocolMask(mask);
    readGroup({{ui->lineEdit_16, ui->lineEdit_17, ui->lineEdit_18, ui->lineEdit_19}, Decimal}, ip,
              &mask);
    settings.setSrcIp(ip);
    settings.setSrcIpMask(mask);
    readGroup({{ui->lineEdit_20, ui->lineEdit_21, ui->lineEdit_22, ui->lineEdit_23}, Decimal}, ip,
              &mask);
    settings.setDstIp(ip);
    settings.setDstIpMask(mask);
}

void MainWindow::showSettings(const DeviceSettings &settings)
{
    const bool filterOn = settings.filterEnabled() != 0;
    ui->checkBox->setEnabled(true);
    ui->checkBox->setChecked(filterOn);
    setFilterFieldsEnabled(filterOn);

    ui->radioButton->setChecked(settings.keepMatching() != 0);
    ui->radioButton_2->setChecked(settings.keepMatching() == 0);

    uint8_t mac[DeviceSettings::MacLength];
    uint8_t etherType[DeviceSettings::EtherTypeLength];
    uint8_t protocol[1];
    uint8_t ip[DeviceSettings::IpLength];
    uint8_t mask = 0;

    settings.dstMac(mac);
    settings.dstMacMask(&mask);
    showGroup({{ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4, ui->lineEdit_5,
                ui->lineEdit_6}, Hexadecimal}, mac, mask);
    settings.srcMac(mac);
    settings.srcMacMask(&mask);
    showGroup({{ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11,
                ui->lineEdit_12}, Hexadecimal}, mac, mask);
    settings.etherType(etherType);
    settings.etherTypeMask(&mask);
    showGroup({{ui->lineEdit_13, ui->lineEdit_14}, Hexadecimal}, etherType, mask);
    settings.protocol(protocol);
    settings.protocolMask(&mask);
    showGroup({{ui->lineEdit_15}, Hexadecimal}, protocol, mask);
    settings.srcIp(ip);
    settings.srcIpMask(&mask);
    showGroup({{ui->lineEdit_16, ui->lineEdit_17, ui->lineEdit_18, ui->lineEdit_19}, Decimal}, ip,
              mask);
    settings.dstIp(ip);
    settings.dstIpMask(&mask);
    showGroup({{ui->lineEdit_20, ui->lineEdit_21, ui->lineEdit_22, ui->lineEdit_23}, Decimal}, ip,
              mask);

    for (QCheckBox *box : {ui->checkBox_2, ui->checkBox_3, ui->checkBox_4})
        box->setEnabled(true);
    ui->checkBox_2->setChecked(settings.timestampsEnabled() != 0);
    ui->checkBox_3->setChecked(settings.captureCrcErrorFrames() != 0);
    ui->checkBox_4->setChecked(settings.captureFcs() != 0);
}

void MainWindow::setFilterFieldsEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->radioButton, ui->radioButton_2, ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3,
             ui->lineEdit_4, ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7, ui->lineEdit_8,
             ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11, ui->lineEdit_12, ui->lineEdit_13,
             ui->lineEdit_14, ui->lineEdit_15, ui->lineEdit_16, ui->lineEdit_17, ui->lineEdit_18,
             ui->lineEdit_19, ui->lineEdit_20, ui->lineEdit_21, ui->lineEdit_22, ui->lineEdit_23})
        w->setEnabled(enabled);
}

void MainWindow::setActionButtonsEnabled(bool enabled)
{
    for (QPushButton *b : {ui->pushButton, ui->pushButton_2, ui->pushButton_3})
        b->setEnabled(enabled);
}

// ---- status display ----

void MainWindow::updateMV1Status()
{
    DeviceSettings settings;
    settings.clear();
    ui->progressBar->setMaximum(PercentFull);

    if (detection->copySettings(settings) != 0) {
        showDeviceAbsent();
        QString name, reason;
        if (detection->unreachableTap(&name, &reason)) {
            // The status row is narrow; the interface and the reason go into the message.
            showProblem(QStringLiteral("Tap not reachable"),
                        QStringLiteral("The tap cannot be reached"),
                        QStringLiteral("The tap is attached as %1, but the program cannot "
                                       "capture on that interface:\n%2\n\n%3")
                            .arg(name, reason, CaptureGuide));
        } else {
            showProblem({}, {}, {});
        }
        return;
    }

    HardwareAddress address{};
    const bool addressKnown = detection->deviceHardwareAddress(address.data());
    showDevicePresent(settings, addressKnown ? &address : nullptr);
    const QList<TapOutcome> outcomes = detection->takeOutcomes();
    const bool writeFailed = std::any_of(outcomes.begin(), outcomes.end(), [](const TapOutcome &o) {
        return !o.succeeded && (o.action == TapOutcome::Action::Write || o.action == TapOutcome::Action::Store);
    });
    if (writeFailed) {
        shownProblem.clear();  // every refused write is news, not a lasting condition
        showProblem(QStringLiteral("Settings not acknowledged"),
                    QStringLiteral("Settings not acknowledged"),
                    QStringLiteral("The tap did not acknowledge the settings, so they may not "
                                   "be in effect. The form shows what is known of the tap's "
                                   "settings, not what was entered; check the tap's connection "
                                   "and try again."));
    } else {
        showProblem({}, {}, {});
    }
}

void MainWindow::showDeviceAbsent()
{
    ui->label_2->setText(StatusNotFound);
    for (QLabel *value : {ui->label_4, ui->label_6, ui->label_8})
        value->setText(NoValue);
    ui->checkBox->setEnabled(false);
    setFilterFieldsEnabled(false);
    setActionButtonsEnabled(false);
    for (QCheckBox *box : {ui->checkBox_2, ui->checkBox_3, ui->checkBox_4})
        box->setEnabled(false);
    ui->pushButton_4->setEnabled(false);
    ui->pushButton_4->setText(QString());
    setStatusIcon(false);
}

void MainWindow::showDevicePresent(const DeviceSettings &settings, const HardwareAddress *address)
{
    ui->label_2->setText(StatusFound);
    // The tap can vanish between the two looks at the worker; then there is no address.
    ui->label_4->setText(address ? hexAddress(*address) : NoValue);
    showFirmware(settings);
    showSettings(settings);
    ui->pushButton->setEnabled(settings.firmwareVersion() != 0);
    ui->pushButton_2->setEnabled(true);
    ui->pushButton_3->setEnabled(true);
    setStatusIcon(true);
}

void MainWindow::showFirmware(const DeviceSettings &settings)
{
    const uint16_t version = settings.firmwareVersion();
    if (firmwarestatus::recognised(settings)) {
        const auto digit = [](int byte) {
            return QChar(static_cast<char16_t>((byte + DigitZero) & ByteMask));
        };
        ui->label_8->setText(QString(digit(firmwarestatus::major(version))) + QLatin1Char('.')
                             + digit(firmwarestatus::minor(version)));
        if (firmwarestatus::current(settings)) {
            ui->pushButton_4->setEnabled(false);
            ui->pushButton_4->setText(UpToDate);
        }
        // Any other recognised release leaves the update button as it was.
        ui->label_6->setText(FirmwareTypeShown);
    } else {
        ui->label_6->setText(NoValue);
        ui->label_8->setText(UnrecognisedVersionShown);
        ui->pushButton_4->setEnabled(true);
        ui->pushButton_4->setText(OfferUpdate);
    }
}

void MainWindow::showProblem(const QString &line, const QString &title, const QString &details)
{
    ui->label_32->setText(line);
    if (line == shownProblem)
        return;  // the worker reports a lasting condition on every change; say it once
    shownProblem = line;
    if (problemBox)
        problemBox->close();
    if (line.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, title, details, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    problemBox = box;
    box->show();
}

// ---- requests ----

void MainWindow::updateProgress(int p)
{
    ui->progressBar->setMaximum(PercentFull);
    ui->progressBar->setValue(p);
}

void MainWindow::updateFinished()
{
    updating = false;
    ui->pushButton_4->setText(UpdateCompleted);
}

void MainWindow::updateFailed()
{
    updating = false;
    ui->pushButton_4->setText(UpdateFailed);
    // Nothing is running any more; a bar still showing activity would say otherwise.
    ui->progressBar->setMaximum(PercentFull);
}

void MainWindow::enterBusyState()
{
    ui->progressBar->setMaximum(BusyBarMaximum);
    setActionButtonsEnabled(false);
}

void MainWindow::postWrite(bool store)
{
    DeviceSettings settings;
    settings.clear();
    enterBusyState();
    settingsFromForm(settings);
    detection->requestWrite(settings, store);
}

void MainWindow::on_pushButton_2_clicked()
{
    postWrite(false);
}

void MainWindow::on_checkBox_toggled(bool checked)
{
    setFilterFieldsEnabled(checked);
}

void MainWindow::on_pushButton_3_clicked()
{
    postWrite(true);
}

void MainWindow::on_pushButton_clicked()
{
    enterBusyState();
    detection->requestRead();
}

void MainWindow::on_pushButton_4_clicked()
{
    if (carriesStandInFirmware() && !confirmStandInFlash())
        return;
    ui->pushButton_4->setEnabled(false);
    ui->pushButton_4->setText(Updating);
    ui->progressBar->setMaximum(BusyBarMaximum);
    setActionButtonsEnabled(false);
    updating = true;
    detection->requestUpdate();
}

// ---- closing ----

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (updating && !confirmCloseDuringUpdate()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool MainWindow::confirmCloseDuringUpdate()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Firmware update running"),
                    QStringLiteral("The tap's firmware is being updated. An interrupted update "
                                   "can leave the tap unusable.\n\nClose anyway? The program "
                                   "ends once the update has finished; do not unplug the tap "
                                   "until then."),
                    QMessageBox::Close | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Close;
}

// ---- the stand-in firmware image ----

bool MainWindow::carriesStandInFirmware()
{
    // The simulated tap's wrapper says so; the stand-in is harmless there.
    return firmwareImageIsStandIn && qEnvironmentVariableIsEmpty("KALVESSA_SIMULATED_TAP");
}

bool MainWindow::confirmStandInFlash()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Stand-in firmware image"),
                    QStringLiteral("This build carries a stand-in firmware image, not the tap's "
                                   "firmware. Flashing it into a real Kalvessa 100 would leave "
                                   "the tap unusable.\n\nBuild with the real image (see the "
                                   "README, \"Firmware image\") to update a real tap.\n\n"
                                   "Flash the stand-in anyway?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
