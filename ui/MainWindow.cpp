#include "MainWindow.h"

#include <QIcon>
#include <QIntValidator>
#include <QPixmap>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "MainWindowForm.h"
#include "ResourcePaths.h"

namespace {

// At most two characters, each a digit, a lower-case hex letter or a comma. The comma is
// admitted on purpose: the binding reads it as a byte that is compared against 0.
const QString HexByteFieldPattern = QStringLiteral("[0-9,a-f]{0,2}");
constexpr int OctetMinimum = 0;
constexpr int OctetMaximum = 255;

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
    setWindowTitle(QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION));
    setLogo(ResourcePaths::Logo);
    ui->label_2->setText(QStringLiteral("Kalvessa 100 not found"));
    installValidators();
    setStatusIcon(false);
}

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
