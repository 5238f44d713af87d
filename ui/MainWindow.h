#pragma once

#include <QFileDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>
#include <optional>

#include "DeviceSettings.h"
#include "TapStatus.h"

class CapturePreview;
class Detection;
class FilterExpressionLine;
class FilterFields;
class MainWindowForm;
class QAction;
class QCloseEvent;
class QMenu;
class QMessageBox;

// The tool's single window: the status panel of the tap, the capture settings form and the
// action buttons. It never talks to the tap itself: it posts requests to the worker, takes in
// what the worker published, and draws everything it shows from what it has taken in, so no
// state of a button or line can outlive the reason it was set for.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The form as a settings record: empty fields are wildcards, controlByte is 255 and
    // the two status words are left as the caller cleared them.
    void settingsFromForm(DeviceSettings &settings) const;

    // True from the click on the update button until the worker reports how it ended.
    bool firmwareUpdateRunning() const { return m_update == UpdateShown::Updating; }

public slots:
    void updateMV1Status();
    void updateProgress(int percent);
    void updateFinished();
    void updateFailed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // What the update button offers. Completed and Failed outlive the tap going away:
    // the first until the tap is found again, the second until the next action.
    enum class UpdateShown { Nothing, Offered, UpToDate, Updating, Completed, Failed };
    static constexpr int ActionCount = 4;  // one per TapOutcome::Action

    void present(const TapSnapshot &snapshot, const QList<TapOutcome> &outcomes);
    void takeOutcome(const TapOutcome &outcome);
    void offerUpdateFor(const DeviceSettings &settings);
    void fillForm(const DeviceSettings &settings);
    void showInForm(const DeviceSettings &settings);
    DeviceSettings formSettings() const;

    void render();
    void renderStatus();
    void renderLines();
    void renderButtons();
    void renderBar();
    void renderEditedMarks();
    void nameForAccessibility();
    void nameMenu();
    void fitPanel();
    void setLogo();

    bool busy() const;
    bool edited() const;
    QString firmwareTypeShown() const;
    QString firmwareVersionShown() const;
    QString failureLine(const TapOutcome &outcome) const;
    QString problemLine() const;
    QString feedbackLine() const;

    void startAction(TapOutcome::Action action);
    void postWrite(bool store);
    void readCurrentSetup();
    void startUpdate();
    void keepFocusInForm();

    void openSettings();
    void saveSettings();
    QString askForSettingsFile(QFileDialog::AcceptMode mode);

    bool confirmUpdate();
    bool confirmDiscardEdits();
    bool confirmCloseDuringUpdate();
    void tellProblem();
    void showMessage(const QString &title, const QString &details);

    void terminationSignal(int number);
    void end();

    std::unique_ptr<MainWindowForm> m_ui;
    FilterFields *m_fields = nullptr;
    Detection *m_detection = nullptr;
    QMenu *m_fileMenu = nullptr;
    QAction *m_openSettings = nullptr;
    QAction *m_saveSettings = nullptr;
    QAction *m_quit = nullptr;
    CapturePreview *m_capturePreview = nullptr;
    FilterExpressionLine *m_expression = nullptr;

    TapSnapshot m_tap;  // as last taken in
    std::optional<DeviceSettings> m_formSource;  // what the tap held when the form was filled
    bool m_formFromFile = false;  // opened from a file, not yet given to a tap
    QString m_settingsFolder;  // of the last settings file, for this session
    std::array<bool, ActionCount> m_pending{};  // requests posted whose outcome is still due
    UpdateShown m_update = UpdateShown::Nothing;
    int m_progress = -1;  // percent of the update, -1 before the first
    std::optional<TapOutcome> m_failure;  // shown until the next action
    std::optional<TapOutcome> m_done;  // the last request that went through
    bool m_endAfterUpdate = false;
    bool m_ending = false;
    TapProblem m_toldProblem;
    QPointer<QMessageBox> m_messageBox;
    QPointer<QWidget> m_lastFormFocus;

    friend class MainWindowTestAccess;
};
