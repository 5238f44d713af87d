#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class MainWindowForm;

// The tool's single window: the status panel of the tap, the capture settings form and
// the action buttons.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    // Green light (tap present) or red light, in the status panel and as window icon.
    void setStatusIcon(bool present);
    void setLogo(const QString &path);
    void installValidators();

    std::unique_ptr<MainWindowForm> ui;

    friend class MainWindowTestAccess;
};
