#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

#include "DeviceSettings.h"

class Detection;
class MainWindowForm;
class QCloseEvent;
class QMessageBox;

// The tool's single window: the status panel of the tap, the capture settings form and
// the action buttons. It never talks to the tap itself: it posts requests to the worker
// and redraws itself when the worker reports back.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The form as a settings record: empty fields are wildcards, controlByte is 255 and
    // the two status words are left as the caller cleared them.
    void settingsFromForm(DeviceSettings &settings) const;
    // The 25 widgets of the filter group (both radio buttons and all 23 fields).
    void setFilterFieldsEnabled(bool enabled);
    // "Read Current Setup", "Apply" and "Flash".
    void setActionButtonsEnabled(bool enabled);

    using HardwareAddress = std::array<uint8_t, DeviceSettings::MacLength>;
    // The two halves of updateMV1Status(): the status panel and form for a tap that is
    // present (its settings and, when known, its address), and for no tap.
    void showDevicePresent(const DeviceSettings &settings, const HardwareAddress *address);
    void showDeviceAbsent();

    // True from the click on the update button until the worker reports how it ended.
    bool firmwareUpdateRunning() const { return updating; }

public slots:
    void updateMV1Status();
    void updateProgress(int p);
    void updateFinished();
    void updateFailed();

private slots:
    void on_pushButton_2_clicked();
    void on_checkBox_toggled(bool checked);
    void on_pushButton_3_clicked();
    void on_pushButton_clicked();
    void on_pushButton_4_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Green light (tap present) or red light, in the status panel and as window icon.
    void setStatusIcon(bool present);
    void setLogo(const QString &path);
    void installValidators();
    void showFirmware(const DeviceSettings &settings);
    void showSettings(const DeviceSettings &settings);
    void enterBusyState();
    void postWrite(bool store);
    // A problem the worker reported: one short line in the status panel, the details in
    // a dialog that does not block the window. An empty line clears both.
    void showProblem(const QString &line, const QString &title, const QString &details);
    bool confirmCloseDuringUpdate();
    // A build with the stand-in image asks before flashing anything but the simulated tap.
    static bool carriesStandInFirmware();
    bool confirmStandInFlash();

    std::unique_ptr<MainWindowForm> ui;
    Detection *detection = nullptr;

    bool updating = false;
    QString shownProblem;
    QPointer<QMessageBox> problemBox;

    friend class MainWindowTestAccess;
};
