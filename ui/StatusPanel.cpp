#include "StatusPanel.h"

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QStandardItemModel>

#include <algorithm>

#include "ActionButtons.h"
#include "FirmwareStatus.h"
#include "HelperFrameLink.h"
#include "MainWindowForm.h"
#include "ResourcePaths.h"
#include "WindowMessages.h"

namespace {

constexpr int HexDigitsPerByte = 2;
constexpr int PercentFull = 100;
constexpr int ChooserRow = 3;  // above the address of the tap held

const QString NoValue = QStringLiteral("-");
const QString FirmwareTypeShown = QStringLiteral("TF");
const QString UnrecognisedVersionShown = QStringLiteral("3.0");

QString hexAddress(const MacAddress &address)
{
    QStringList bytes;
    for (uint8_t byte : address)
        bytes << QStringLiteral("%1").arg(byte, HexDigitsPerByte, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(':'));
}

}  // namespace

StatusPanel::StatusPanel(const MainWindowForm &ui, ActionButtons *buttons, WindowMessages *messages,
                         QObject *parent)
    : QObject(parent)
    , m_ui(ui)
    , m_buttons(buttons)
    , m_messages(messages)
    , m_chooserLabel(new QLabel(ui.frame))
    , m_chooser(new QComboBox(ui.frame))
{
    QFont strong = ui.label_32->font();
    strong.setBold(true);
    ui.label_32->setFont(strong);
    connect(ui.pushButton_4, &QPushButton::clicked, this, &StatusPanel::updateClicked);

    m_chooser->setObjectName(QStringLiteral("tapChooser"));
    m_chooserLabel->setObjectName(QStringLiteral("tapChooserLabel"));
    m_chooserLabel->setBuddy(m_chooser);
    // Not stretched across the panel: the widest entry sets its width.
    m_chooser->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    ui.formLayout->insertRow(ChooserRow, m_chooserLabel, m_chooser);
    // With one tap the panel looks as it always has: the row takes no room while hidden.
    m_chooserLabel->hide();
    m_chooser->hide();
    connect(m_chooser, &QComboBox::activated, this, [this](int index) {
        const QList<ListedTap> &taps = m_listed.value_or(QList<ListedTap>());
        if (index >= 0 && index < taps.size() && !taps.at(index).held)
            emit tapChosen(taps.at(index).address);
    });
}

void StatusPanel::showTap(const TapSnapshot &tap)
{
    const bool present = tap.present;
    // A tap whose answers drown in the line's traffic is there all the same.
    const bool noisy = !present && tap.problem.kind == TapProblem::Kind::Unsettled;
    m_ui.label_2->setText(present     ? tr("Kalvessa 100 found")
                              : noisy ? tr("Kalvessa 100 attached, the line is noisy")
                                      : tr("Kalvessa 100 not found"));
    m_ui.label->setPixmap(QPixmap(present ? ResourcePaths::GreenLight : ResourcePaths::RedLight));
    m_ui.label->setAccessibleDescription(present ? tr("tap found") : tr("tap not found"));
    m_ui.label_4->setText(present && tap.address ? hexAddress(*tap.address) : NoValue);
    // Read back but not read yet: unknown, never what an empty record would suggest.
    const bool unknown = present && tap.abilities.readsBack && !tap.firmwareKnown;
    m_ui.label_6->setText(!present      ? NoValue
                              : unknown ? tr("unknown")
                                        : firmwareTypeShown(tap.settings));
    m_ui.label_8->setText(!present      ? NoValue
                              : unknown ? tr("unknown")
                                        : firmwareVersionShown(tap.settings));
    showChoice(tap.taps);
}

void StatusPanel::showChoice(const QList<ListedTap> &taps)
{
    const bool choice = taps.size() > 1;
    m_chooserLabel->setVisible(choice);
    m_chooser->setVisible(choice);
    if (taps != m_listed) {
        m_listed = taps;
        m_chooser->clear();
        for (const ListedTap &tap : taps)
            m_chooser->addItem(choiceText(tap));
        auto *items = qobject_cast<QStandardItemModel *>(m_chooser->model());
        for (int i = 0; i < taps.size() && items; ++i)
            items->item(i)->setEnabled(!taps.at(i).inUse);
    }
    // Also after a choice that was not carried out: the list shows the tap held, or none.
    const auto held =
        std::find_if(taps.begin(), taps.end(), [](const ListedTap &tap) { return tap.held; });
    m_chooser->setCurrentIndex(held == taps.end() ? -1 : int(held - taps.begin()));
}

QString StatusPanel::choiceText(const ListedTap &tap) const
{
    QStringList known;
    if (tap.generation != 0)
        known << tr("generation %1").arg(tap.generation);
    if (tap.firmware)
        known << tr("firmware %1").arg(firmwareVersionShown(*tap.firmware));
    if (tap.inUse) {
        known << (tap.ownerPid > 0 ? tr("in use by another program (PID %1)").arg(tap.ownerPid)
                                   : tr("in use by another program"));
    }
    const QString named = QStringLiteral("%1  %2").arg(tap.interfaceName, hexAddress(tap.address));
    return known.isEmpty() ? named : tr("%1 - %2").arg(named, known.join(QStringLiteral(", ")));
}

void StatusPanel::allowChoosing(bool allowed, const QString &whyNot)
{
    m_chooser->setEnabled(allowed);
    m_chooser->setToolTip(allowed ? tr("The tap this window works with.") : whyNot);
}

void StatusPanel::showProblem(const QString &line)
{
    m_ui.label_32->setText(line);
}

void StatusPanel::showFeedback(const QString &line)
{
    m_ui.feedbackLine->setText(line);
}

void StatusPanel::showUpdateButton(const QString &text, const QString &purpose, bool on,
                                   const QString &whyOff)
{
    m_buttons->switchButton(m_ui.pushButton_4, on, purpose, whyOff);
    m_ui.pushButton_4->setText(text);
}

void StatusPanel::showProgress(std::optional<int> percent)
{
    QProgressBar *bar = m_ui.progressBar;
    if (!percent) {
        bar->setRange(0, 0);  // a bar with no range shows activity, not a value
        return;
    }
    bar->setRange(0, PercentFull);
    bar->setValue(*percent);
}

QString StatusPanel::firmwareTypeShown(const DeviceSettings &settings)
{
    return firmwarestatus::recognised(settings) ? FirmwareTypeShown : NoValue;
}

QString StatusPanel::firmwareVersionShown(const DeviceSettings &settings)
{
    const uint16_t version = settings.firmwareVersion();
    if (!firmwarestatus::recognised(settings))
        return UnrecognisedVersionShown;
    return QStringLiteral("%1.%2")
        .arg(firmwarestatus::major(version))
        .arg(firmwarestatus::minor(version));
}

QString StatusPanel::problemLine(const TapSnapshot &tap) const
{
    if (tap.present)
        return {};
    const TapProblem &problem = tap.problem;
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

void StatusPanel::tellProblem(const TapSnapshot &tap)
{
    const TapProblem problem = tap.present ? TapProblem() : tap.problem;
    if (problem == m_toldProblem)
        return;
    m_toldProblem = problem;
    if (problem.kind != TapProblem::Kind::Unreachable) {
        m_messages->close(WindowMessages::Topic::TapProblem);
        return;
    }
    // The privilege is only worth asking for where it is what is missing.
    if (problem.cause != LinkError::Kind::NoPrivilege) {
        m_messages->show(tr("The tap cannot be reached"),
                         tr("The tap is attached as %1, but cannot be reached through that "
                            "interface:\n%2")
                             .arg(problem.interfaceName, problem.reason),
                         WindowMessages::Topic::TapProblem);
        return;
    }
    m_messages->show(
        tr("The tap cannot be reached"),
        tr("The tap is attached as %1, but this program cannot capture on that interface:\n%2\n\n"
           "Capturing needs a privilege. With the program installed from its Debian package, "
           "join the group \"kalvessa\" and log in again:\n"
           "    sudo usermod -aG kalvessa $USER\n\n"
           "For a program built from source, grant the privilege to its capture helper alone:\n"
           "    sudo setcap cap_net_raw=eip %3")
            .arg(problem.interfaceName, problem.reason,
                 QString::fromStdString(HelperFrameLink::helperPath())),
        WindowMessages::Topic::TapProblem);
}

void StatusPanel::fit(const QStringList &updateTexts)
{
    QPushButton *update = m_ui.pushButton_4;
    const QString shown = update->text();
    QSize largest;
    for (const QString &text : updateTexts) {
        update->setText(text);
        largest = largest.expandedTo(update->sizeHint());
    }
    update->setText(shown);
    update->setMinimumSize(largest);
    m_chooserLabel->setText(tr("Tap :"));
    m_listed.reset();  // its entries are worded again in the new language

    const QFontMetrics metrics(m_ui.label_2->font());
    m_ui.label_2->setMinimumWidth(
        std::max(metrics.horizontalAdvance(tr("Kalvessa 100 found")),
                 metrics.horizontalAdvance(tr("Kalvessa 100 not found"))));
}

void StatusPanel::nameForAccessibility()
{
    m_ui.label->setAccessibleName(tr("Status light"));
    m_ui.progressBar->setAccessibleName(tr("Progress"));
    m_ui.label_32->setAccessibleName(tr("Problem"));
    m_ui.feedbackLine->setAccessibleName(tr("Last action"));
    m_chooser->setAccessibleName(tr("Tap"));
}
