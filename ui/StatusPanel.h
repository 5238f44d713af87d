#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

#include "TapStatus.h"

class ActionButtons;
class MainWindowForm;
class QComboBox;
class QLabel;
class WindowMessages;

// The panel at the top of the window: whether a tap is found, its address and firmware, a bold
// line for what is wrong, a line for what the last action did, the firmware update button and
// the bar that shows the tool busy with the tap. It keeps one size whatever it shows. With
// more than one tap attached it also offers them to choose from; a tap another program holds
// is shown so and cannot be chosen.
class StatusPanel : public QObject
{
    Q_OBJECT

public:
    StatusPanel(const MainWindowForm &ui, ActionButtons *buttons, WindowMessages *messages,
                QObject *parent);

    void showTap(const TapSnapshot &tap);
    // Whether another tap may be chosen now (not while the tool is busy with the one held).
    void allowChoosing(bool allowed, const QString &whyNot);
    void showProblem(const QString &line);
    void showFeedback(const QString &line);
    void showUpdateButton(const QString &text, const QString &purpose, bool on,
                          const QString &whyOff);
    // A percentage, or nothing while the tool is busy with no figure to show.
    void showProgress(std::optional<int> percent);

    // What is wrong with a tap that is listed but not held, in a line; empty when nothing is.
    QString problemLine(const TapSnapshot &tap) const;
    // A tap that cannot be captured on is also said once in a message, with what to do about
    // it; the line stays while it lasts.
    void tellProblem(const TapSnapshot &tap);

    // The update button as large as the largest of these texts, the status as wide as its
    // widest; called again when the language changes.
    void fit(const QStringList &updateTexts);
    void nameForAccessibility();

    // How the panel shows a tap's firmware: "TF" and the release for one it recognises.
    static QString firmwareTypeShown(const DeviceSettings &settings);
    static QString firmwareVersionShown(const DeviceSettings &settings);

signals:
    void updateClicked();
    // The person chose this tap in the list (not the one held already).
    void tapChosen(const MacAddress &address);

private:
    void showChoice(const QList<ListedTap> &taps);
    QString choiceText(const ListedTap &tap) const;

    const MainWindowForm &m_ui;
    ActionButtons *m_buttons;
    WindowMessages *m_messages;
    TapProblem m_toldProblem;
    QLabel *m_chooserLabel;
    QComboBox *m_chooser;
    // What the list was last filled with; it is filled again only when that changes, so that
    // an open list is not pulled from under the person choosing.
    std::optional<QList<ListedTap>> m_listed;
};
