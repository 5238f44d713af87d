#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "DeviceSettings.h"
#include "FilterPreview.h"

class QAction;
class QProgressDialog;
class QTimer;
class QWidget;

// "Preview on Capture File...": what the filter the form holds now would keep of a capture
// file. The file is read on a thread of its own, so the window stays responsive over a large
// one; the thread shares only atomics and a result read after it has been joined.
class CapturePreview : public QObject
{
    Q_OBJECT

public:
    using FormSettings = std::function<DeviceSettings()>;

    CapturePreview(QWidget *window, FormSettings formSettings);
    ~CapturePreview() override;  // a run still going is cancelled and waited for

    QAction *action() const { return m_action; }
    void retranslate();

private:
    void start();
    void poll();
    void finish();
    QString resultText() const;

    QWidget *const m_window;
    const FormSettings m_formSettings;
    QAction *const m_action;
    QTimer *const m_poll;
    QString m_folder;  // of the last capture file, for this session
    QPointer<QProgressDialog> m_progress;

    QString m_path;
    DeviceSettings m_settings;
    std::thread m_run;
    std::atomic_bool m_cancel{false};
    std::atomic_bool m_finished{false};
    std::atomic<int> m_percent{0};
    std::optional<FilterPreview::Result> m_result;  // the run's; read after the join
    QString m_error;
};
