#include "FileActions.h"

#include <QAction>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <optional>

#include "CapturePreview.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "WindowMessages.h"

namespace {

const QString SettingsSuffix = QStringLiteral("json");
const QString SuggestedSettingsName = QStringLiteral("kalvessa100-settings.json");

}  // namespace

FileActions::FileActions(QMainWindow *window, SettingsForm *form, WindowMessages *messages)
    : QObject(window)
    , m_window(window)
    , m_form(form)
    , m_messages(messages)
{
    m_menu = window->menuBar()->addMenu(QString());
    m_menu->setToolTipsVisible(true);  // no status bar shows the status tips
    m_openSettings = m_menu->addAction(QString(), this, &FileActions::openSettings);
    m_openSettings->setObjectName(QStringLiteral("openSettings"));
    m_openSettings->setShortcuts(QKeySequence::Open);
    m_saveSettings = m_menu->addAction(QString(), this, &FileActions::saveSettings);
    m_saveSettings->setObjectName(QStringLiteral("saveSettings"));
    // There is no plain Save, so Ctrl+S saves as; the desktop's own Save As keys work too.
    QList<QKeySequence> saveKeys{QKeySequence(Qt::CTRL | Qt::Key_S)};
    for (const QKeySequence &keys : QKeySequence::keyBindings(QKeySequence::SaveAs)) {
        if (!saveKeys.contains(keys))
            saveKeys << keys;
    }
    m_saveSettings->setShortcuts(saveKeys);
    m_preview = new CapturePreview(window, [form] { return form->settings(); });
    m_menu->addAction(m_preview->action());
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QString(), window, &QWidget::close);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    nameMenu();
}

void FileActions::setOpenEnabled(bool enabled)
{
    m_openSettings->setEnabled(enabled);
}

void FileActions::nameMenu()
{
    m_menu->setTitle(tr("F&ile"));  // Alt+F is the Filter tab's
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
    m_preview->retranslate();
    m_quit->setText(tr("&Quit"));
}

// The tap is left alone: the form shows the file's settings until the user sends them.
void FileActions::openSettings()
{
    const QString path = askForSettingsFile(QFileDialog::AcceptOpen);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<SettingsPatch> patch = SettingsFile::load(path, &error);
    if (!patch) {
        m_messages->show(
            tr("Settings not opened"),
            tr("The settings file was not opened:\n%1\n\nThe form is left as it was.").arg(error));
        return;
    }
    m_form->showFromFile(patch->appliedTo(m_form->settings()));
}

void FileActions::saveSettings()
{
    const QString path = askForSettingsFile(QFileDialog::AcceptSave);
    if (path.isEmpty())
        return;
    QString error;
    if (!SettingsFile::save(path, m_form->settings(), &error))
        m_messages->show(tr("Settings not saved"),
                         tr("The settings were not saved:\n%1").arg(error));
}

// The path chosen, or nothing when the user cancelled. Without a folder of its own yet the
// dialog starts in the working directory.
QString FileActions::askForSettingsFile(QFileDialog::AcceptMode mode)
{
    const bool opening = mode == QFileDialog::AcceptOpen;
    QFileDialog dialog(m_window, opening ? tr("Open Settings") : tr("Save Settings As"),
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
