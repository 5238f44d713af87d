#pragma once

#include <QFileDialog>
#include <QObject>
#include <QString>

class CapturePreview;
class QAction;
class QMainWindow;
class QMenu;
class SettingsForm;
class WindowMessages;

// The File menu: settings files opened into the form and saved from it, a capture file
// previewed through the form's filter, and Quit. Files need
// no tap: a configuration can be prepared before the tap is plugged in, and nothing reaches the
// tap until Apply or Flash.
class FileActions : public QObject
{
    Q_OBJECT

public:
    FileActions(QMainWindow *window, SettingsForm *form, WindowMessages *messages);

    QMenu *menu() const { return m_menu; }
    // Off while the tap's answer to a read or write is due: it refills the form, and would
    // replace what a file put there.
    void setOpenEnabled(bool enabled);
    // The menu's texts in the current language.
    void nameMenu();

private:
    void openSettings();
    void saveSettings();
    QString askForSettingsFile(QFileDialog::AcceptMode mode);

    QMainWindow *m_window;
    SettingsForm *m_form;
    WindowMessages *m_messages;
    QMenu *m_menu = nullptr;
    QAction *m_openSettings = nullptr;
    QAction *m_saveSettings = nullptr;
    CapturePreview *m_preview = nullptr;
    QAction *m_quit = nullptr;
    QString m_settingsFolder;  // of the last settings file, for this session
};
