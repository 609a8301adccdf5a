#include "uikit/workrunner.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

#include "uikit/command.h"

namespace {

// What the worker reports, read by the GUI thread's timer.
class SharedProgress : public tessera::Progress {
  public:
    SharedProgress(std::atomic<bool>& cancelled,
                   const std::function<bool(const char*, int64_t, int64_t)>& hook)
        : cancelled_(cancelled), hook_(hook) {}
    bool Step(const char* stage, int64_t done, int64_t total) override {
        stage_ = stage;
        done_ = done;
        total_ = total;
        if (hook_ && !hook_(stage, done, total)) cancelled_ = true;
        return !cancelled_;
    }
    const char* Stage() const { return stage_; }
    // Thousandths of the stage done.
    int Permille() const {
        const int64_t total = total_;
        return total > 0 ? static_cast<int>(done_ * 1000 / total) : 0;
    }

  private:
    std::atomic<bool>& cancelled_;
    const std::function<bool(const char*, int64_t, int64_t)>& hook_;
    std::atomic<const char*> stage_{nullptr};
    std::atomic<int64_t> done_{0};
    std::atomic<int64_t> total_{0};
};

}  // namespace

TWorkRunner::TWorkRunner(QWidget* window) : QObject(window), window_(window) {}

void TWorkRunner::Run(const QString& title, int64_t pixels,
                      const std::function<void(tessera::Progress&)>& work) {
    SharedProgress progress(cancelled_, stepHook);
    if (pixels < threshold) {
        work(progress);
        return;
    }

    running_ = true;
    emit RunningChanged(true);
    QProgressDialog dialog(title, "Cancel", 0, 1000, window_);
    dialog.setObjectName("WorkProgress");
    dialog.setWindowTitle(" Tessera_V2");
    dialog.setWindowModality(Qt::NonModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, this, [this] { cancelled_ = true; });

    std::atomic<bool> finished{false};
    std::exception_ptr escaped;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            escaped = std::current_exception();
        }
        finished = true;
    });
    QTimer poll;
    poll.setInterval(40);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        const char* stage = progress.Stage();
        dialog.setLabelText(stage && std::strcmp(stage, tessera::kStageLoading) != 0
                                ? QString::fromUtf8(stage)
                                : title);
        // A stage done is not the work done: the dialog reads 100 % only once it has ended (and
        // then closes), never while a later stage or the end of this one still runs.
        dialog.setValue(finished ? 1000 : std::min(progress.Permille(), 999));
        if (finished) loop.quit();
    });
    dialog.show();
    poll.start();
    if (!finished) loop.exec();
    worker.join();
    poll.stop();
    dialog.hide();
    running_ = false;
    emit RunningChanged(false);
    if (escaped) std::rethrow_exception(escaped);
}

void OnGuiThread(QObject* context, const std::function<void()>& call) {
    if (QThread::currentThread() == context->thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
    }
}
