#pragma once

#include <QWidget>

#include "DeviceSettings.h"

class QLabel;
class QLineEdit;
class QToolButton;

// The filter the form holds as a libpcap expression, read-only and copyable, following every
// edit: pasted into tcpdump or Wireshark's capture filter it captures from a plain interface
// what the tap, as the settings layer models its filter, would keep.
class FilterExpressionLine : public QWidget
{
    Q_OBJECT

public:
    explicit FilterExpressionLine(QWidget *parent);

    void follow(const DeviceSettings &settings);
    void retranslate();

private:
    QLabel *m_caption;
    QLineEdit *m_line;
    QToolButton *m_copy;
};
