#include "CapturePreview.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include "TapFilterModel.h"

namespace {

constexpr int PollMs = 50;
constexpr int Percent = 100;
constexpr int ProgressAfterMs = 500;  // a small file is done before a dialog would show

}  // namespace

CapturePreview::CapturePreview(QWidget *window, FormSettings formSettings)
    : QObject(window)
    , m_window(window)
    , m_formSettings(std::move(formSettings))
    , m_action(new QAction(this))
    , m_poll(new QTimer(this))
{
    m_action->setObjectName(QStringLiteral("previewCapture"));
    connect(m_action, &QAction::triggered, this, &CapturePreview::start);
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &CapturePreview::poll);
    retranslate();
}

CapturePreview::~CapturePreview()
{
    m_cancel = true;
    if (m_run.joinable())
        m_run.join();
}

void CapturePreview::retranslate()
{
    m_action->setText(tr("&Preview on Capture File..."));
    const QString purpose =
        tr("Count what the filter the form holds would keep of a capture file (pcap or pcapng), "
           "as modelled on this computer. Nothing reaches the tap.");
    m_action->setToolTip(purpose);
    m_action->setStatusTip(purpose);
}

void CapturePreview::start()
{
    if (m_run.joinable())
        return;  // one run at a time; its progress dialog is showing
    QFileDialog dialog(m_window, tr("Preview on Capture File"), m_folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({tr("Capture files (*.pcap *.pcapng *.cap)"), tr("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_path = dialog.selectedFiles().constFirst();
    m_folder = QFileInfo(m_path).absolutePath();
    m_settings = m_formSettings();

    m_cancel = false;
    m_finished = false;
    m_percent = 0;
    m_result.reset();
    m_error.clear();
    m_run = std::thread([this] {
        FilterPreview::Options options;
        options.cancel = &m_cancel;
        options.progress = [this](int64_t done, int64_t total) {
            if (total > 0)
                m_percent.store(static_cast<int>(done * Percent / total));
        };
        m_result = FilterPreview(m_settings).run(m_path, options, &m_error);
        m_finished.store(true, std::memory_order_release);
    });

    auto *progress = new QProgressDialog(tr("Reading %1...").arg(QFileInfo(m_path).fileName()),
                                         tr("Cancel"), 0, Percent, m_window);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(ProgressAfterMs);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, this, [this] { m_cancel = true; });
    m_progress = progress;
    m_action->setEnabled(false);
    m_poll->start();
}

void CapturePreview::poll()
{
    if (!m_finished.load(std::memory_order_acquire)) {
        if (m_progress)
            m_progress->setValue(m_percent.load());
        return;
    }
    m_poll->stop();
    m_run.join();
    if (m_progress)
        m_progress->close();
    m_action->setEnabled(true);
    finish();
}

void CapturePreview::finish()
{
    if (!m_result) {
        if (m_cancel)
            return;  // the person asked for it; nothing to tell
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Capture file not previewed"),
                                    tr("The capture file was not previewed:\n%1").arg(m_error),
                                    QMessageBox::Ok, m_window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName(QStringLiteral("previewResult"));
        box->show();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Information, tr("Preview on Capture File"),
                                resultText(), QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("previewResult"));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->show();
}

QString CapturePreview::resultText() const
{
    const FilterPreview::Result &result = *m_result;
    const auto tally = [](const FilterPreview::Tally &t) {
        return t.frames == 1 ? tr("1 frame, %1 bytes").arg(t.bytes)
                             : tr("%1 frames, %2 bytes").arg(t.frames).arg(t.bytes);
    };
    QStringList lines{
        tr("What the filter the form holds would keep of %1:").arg(QFileInfo(m_path).fileName()),
        tr("Kept: %1").arg(tally(result.kept)), tr("Discarded: %1").arg(tally(result.discarded))};
    if (result.undecided.frames > 0) {
        lines << tr("Undecided: %1, cut short by the capture's snap length before a compared "
                    "byte (libpcap's filter drops such frames, even under \"not\")")
                     .arg(tally(result.undecided));
    }
    if (result.truncatedRecords > 0) {
        lines << tr("The file ends inside its last record (%1); the frames before it are counted.")
                     .arg(result.truncation);
    }
    if (!result.topPairs.isEmpty()) {
        lines << QString()
              << (result.pairsApproximate
                      ? tr("Most frequent kept pairs (approximate: more pairs than can be counted "
                           "exactly):")
                      : tr("Most frequent kept pairs:"));
        for (const FrequentPairs::Count &count : result.topPairs) {
            lines << tr("%1 -> %2: %3 frames")
                         .arg(count.pair.sourceText(), count.pair.destinationText())
                         .arg(count.frames);
        }
    }
    const QString expression = TapFilterModel(m_settings).expression();
    lines << QString()
          << tr("libpcap expression: %1")
                 .arg(expression.isEmpty() ? tr("(empty: every frame)") : expression)
          << tr("This models the tap's filter: the tap is taken to compare fixed places of "
                "untagged Ethernet II frames with a 20-byte IPv4 header at offset 14; a "
                "VLAN-tagged frame moves them.");
    return lines.join(QLatin1Char('\n'));
}
