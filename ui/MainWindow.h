#pragma once

#include <QMainWindow>

#include <memory>

#include "TapOutcome.h"
#include "TapStatus.h"

class ActionButtons;
class Detection;
class FileActions;
class FilterExpressionLine;
class MainWindowForm;
class QCloseEvent;
class SettingsActions;
class SettingsForm;
class StatusPanel;
class UpdateFlow;
class WindowMessages;

// The tool's single window: the status panel of the tap, the capture settings form, the
// settings actions, the File menu and the firmware update, each a part of its own that this
// window wires to the worker and to each other. It never talks to the tap itself: it posts
// requests to the worker, takes in what the worker published, and draws everything it shows
// from what it has taken in, so no state of a button or line can outlive the reason it was set
// for.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // True from the click on the update button until the worker reports how it ended.
    bool firmwareUpdateRunning() const;

public slots:
    void updateMV1Status();
    void updateProgress(int percent);
    void operationEnded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void present(const TapSnapshot &snapshot, const QList<TapOutcome> &outcomes);
    void chooseTap(const MacAddress &address);

    void render();
    void renderLines();
    void renderButtons();
    void renderBar();
    void renderEdits();
    void nameForAccessibility();
    void setLogo();

    bool busy() const;
    QString whyActionsWait() const;
    QString feedbackLine() const;

    void terminationSignal(int number);
    void end();

    std::unique_ptr<MainWindowForm> m_ui;
    WindowMessages *m_messages = nullptr;
    SettingsForm *m_form = nullptr;
    StatusPanel *m_panel = nullptr;
    SettingsActions *m_settings = nullptr;
    UpdateFlow *m_update = nullptr;
    FileActions *m_files = nullptr;
    FilterExpressionLine *m_expression = nullptr;
    Detection *m_detection = nullptr;

    TapSnapshot m_tap;  // as last taken in
    bool m_ending = false;

    friend class MainWindowTestAccess;
};
