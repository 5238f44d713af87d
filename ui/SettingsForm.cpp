#include "SettingsForm.h"

#include <QLineEdit>

#include <initializer_list>

#include "FilterFields.h"
#include "MainWindowForm.h"

namespace {

constexpr uint8_t ControlByteFromForm = 255;
// How much of the selection colour tints a field that differs from the tap.
constexpr double EditedTint = 0.3;

QColor blend(const QColor &from, const QColor &to, double share)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() * (1 - share) + to.redF() * share),
                            static_cast<float>(from.greenF() * (1 - share) + to.greenF() * share),
                            static_cast<float>(from.blueF() * (1 - share) + to.blueF() * share));
}

}  // namespace

SettingsForm::SettingsForm(const MainWindowForm &ui, QObject *parent) : QObject(parent), m_ui(ui)
{
    m_fields = new FilterFields({ui.lineEdit,    ui.lineEdit_2,  ui.lineEdit_3,  ui.lineEdit_4,
                                 ui.lineEdit_5,  ui.lineEdit_6,  ui.lineEdit_7,  ui.lineEdit_8,
                                 ui.lineEdit_9,  ui.lineEdit_10, ui.lineEdit_11, ui.lineEdit_12,
                                 ui.lineEdit_13, ui.lineEdit_14, ui.lineEdit_15, ui.lineEdit_16,
                                 ui.lineEdit_17, ui.lineEdit_18, ui.lineEdit_19, ui.lineEdit_20,
                                 ui.lineEdit_21, ui.lineEdit_22, ui.lineEdit_23},
                                this);
    for (QLineEdit *field : m_fields->fields())
        connect(field, &QLineEdit::textChanged, this, &SettingsForm::changed);
    for (QAbstractButton *box :
         std::initializer_list<QAbstractButton *>{ui.checkBox, ui.checkBox_2, ui.checkBox_3,
                                                  ui.checkBox_4, ui.radioButton, ui.radioButton_2})
        connect(box, &QAbstractButton::toggled, this, &SettingsForm::changed);
    connect(ui.checkBox, &QAbstractButton::toggled, this, &SettingsForm::enable);
}

void SettingsForm::settingsFromForm(DeviceSettings &settings) const
{
    settings.setFilterMode(m_ui.checkBox->isChecked() ? 1 : 0,
                           m_ui.radioButton->isChecked() ? 1 : 0);
    settings.setTimestampsEnabled(m_ui.checkBox_2->isChecked() ? 1 : 0);
    settings.setCaptureCrcErrorFrames(m_ui.checkBox_3->isChecked() ? 1 : 0);
    settings.setCaptureFcs(m_ui.checkBox_4->isChecked() ? 1 : 0);
    settings.setControlByte(ControlByteFromForm);
    m_fields->read(settings);
}

DeviceSettings SettingsForm::settings() const
{
    DeviceSettings settings;
    settingsFromForm(settings);
    return settings;
}

void SettingsForm::fill(const DeviceSettings &held)
{
    m_formSource = held;
    m_formFromFile = false;
    show(held);
}

void SettingsForm::showFromFile(const DeviceSettings &settings)
{
    show(settings);
    m_formFromFile = true;
    emit changed();
}

// Settings opened from a file were prepared for the tap that comes next; they stay, and the
// marks tell where it differs, until Apply, Flash or Read takes the tap's.
void SettingsForm::tapFound(const DeviceSettings &held)
{
    if (m_formFromFile)
        m_formSource = held;
    else
        fill(held);
}

void SettingsForm::show(const DeviceSettings &settings)
{
    m_ui.checkBox->setChecked(settings.filterEnabled() != 0);
    m_ui.radioButton->setChecked(settings.keepMatching() != 0);
    m_ui.radioButton_2->setChecked(settings.keepMatching() == 0);
    m_fields->show(settings);
    m_ui.checkBox_2->setChecked(settings.timestampsEnabled() != 0);
    m_ui.checkBox_3->setChecked(settings.captureCrcErrorFrames() != 0);
    m_ui.checkBox_4->setChecked(settings.captureFcs() != 0);
}

bool SettingsForm::edited() const
{
    if (!m_formSource)
        return false;
    const DeviceSettings shown = settings();
    const DeviceSettings &held = *m_formSource;
    return !m_fields->differingFrom(held).isEmpty()
        || m_ui.checkBox->isChecked() != (held.filterEnabled() != 0)
        || m_ui.radioButton->isChecked() != (held.keepMatching() != 0)
        || shown.timestampsEnabled() != held.timestampsEnabled()
        || shown.captureCrcErrorFrames() != held.captureCrcErrorFrames()
        || shown.captureFcs() != held.captureFcs();
}

void SettingsForm::markEdits()
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

    const std::pair<QAbstractButton *, bool> boxes[] = {
        {m_ui.checkBox, held.filterEnabled() != 0},
        {m_ui.radioButton, held.keepMatching() != 0},
        {m_ui.radioButton_2, held.keepMatching() == 0},
        {m_ui.checkBox_2, held.timestampsEnabled() != 0},
        {m_ui.checkBox_3, held.captureCrcErrorFrames() != 0},
        {m_ui.checkBox_4, held.captureFcs() != 0},
    };
    for (const auto &[box, inTap] : boxes) {
        const bool marked = m_formSource && box->isChecked() != inTap;
        QFont font = box->parentWidget()->font();
        font.setBold(marked);
        box->setFont(marked ? font : QFont());
        box->setAccessibleDescription(marked ? mark : QString());
    }
}

void SettingsForm::setTapPresent(bool present)
{
    m_tapPresent = present;
    enable();
}

void SettingsForm::enable()
{
    m_ui.checkBox->setEnabled(m_tapPresent);
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_ui.checkBox_2, m_ui.checkBox_3, m_ui.checkBox_4})
        w->setEnabled(m_tapPresent);
    const bool filterOn = m_tapPresent && m_ui.checkBox->isChecked();
    m_fields->setEnabled(filterOn);
    m_ui.radioButton->setEnabled(filterOn);
    m_ui.radioButton_2->setEnabled(filterOn);
}

void SettingsForm::nameForAccessibility()
{
    m_fields->nameForAccessibility();
}
