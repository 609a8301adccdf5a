#pragma once
// Runs the long step of a command (loading, numbering, counting, painting, saving) on a worker
// thread, with a progress dialog that shows the stage and offers Cancel, while the windows stay
// alive. Steps of small scenes run at once on the GUI thread, without a dialog.
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

#include "support/progress.h"

class QWidget;

class TWorkRunner : public QObject {
    Q_OBJECT
  public:
    explicit TWorkRunner(QWidget* window);

    // Steps of at least this many pixel operations (about half a second's work) run on the
    // worker thread with the dialog.
    int64_t threshold = int64_t{32} << 20;
    // Called on the worker at every step the core reports, before the cancel is looked at; a
    // false answer cancels. Tests pause and cancel the work at known points through it.
    std::function<bool(const char* stage, int64_t done, int64_t total)> stepHook;

    bool Running() const { return running_; }
    // A run of this command was cancelled.
    bool Cancelled() const { return cancelled_; }
    // Asks the running work to stop; it ends at its next step, changing nothing, and every
    // later run of the same command ends at its first step.
    void Cancel() { cancelled_ = true; }
    // The start of a command: a cancel of an earlier one is forgotten, unless `stopping`
    // (the program is to close once its work has stopped).
    void BeginCommand(bool stopping) { cancelled_ = stopping; }

    // Runs work(progress) for a step of `pixels` pixel operations and returns when it has
    // ended. `title` names the step ("Loading band 3 of 10"); the dialog then shows the stage the
    // core reports. An exception escaping the work comes out here, on the GUI thread.
    void Run(const QString& title, int64_t pixels,
             const std::function<void(tessera::Progress&)>& work);

  signals:
    void RunningChanged(bool running);

  private:
    QWidget* window_;
    bool running_ = false;
    std::atomic<bool> cancelled_{false};
};
