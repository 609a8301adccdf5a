#pragma once
// What a command of the program works with: the working state, the dialog seam and the screen
// cursor. The main window hands one to every subsystem's command; nothing else is reached.
#include <QString>
#include <functional>

#include "uikit/seam.h"
#include "uikit/workrunner.h"
#include "workspace/workspace.h"

class QDialog;

// Screen cursors by number, as the program registers them.
enum ScreenCursor { crDefault = 0, crHourGlass = -11, crLoupe = 30 };

struct CommandContext {
    tessera::Workspace& ws;
    const DialogSeam& seam;
    std::function<void(int cursor)> setCursor;
    TWorkRunner& work;
    // A line for the status bar: what the command did that the user did not ask in so many
    // words (a file read by another reader than its type entry said).
    std::function<void(const QString& text)> notice = nullptr;

    void Notice(const QString& text) const {
        if (notice) notice(text);
    }
    void Message(const QString& text, const QString& caption) const {
        seam.showMessage(text, caption);
    }
    int RunModal(QDialog& dialog) const { return seam.runModal(dialog); }
    // The long step of the command: on the worker thread with progress and Cancel when the
    // scene is large (see TWorkRunner), else at once.
    void Work(const QString& title, int64_t pixels,
              const std::function<void(tessera::Progress&)>& step) const {
        work.Run(title, pixels, step);
    }
};

// Runs `call` on the GUI thread (the thread of `context`) and waits for it: a dialog that the
// work needs on its way (the image-size dialog of a raw file without descriptor).
void OnGuiThread(QObject* context, const std::function<void()>& call);

// The hour-glass while a command works: set when made, the arrow back when it goes (also when
// the command ends early or by an exception), or at Release.
class BusyCursor {
  public:
    explicit BusyCursor(const CommandContext& context) : context_(&context) {
        context_->setCursor(crHourGlass);
    }
    ~BusyCursor() { Release(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    void Release() {
        if (context_) context_->setCursor(crDefault);
        context_ = nullptr;
    }

  private:
    const CommandContext* context_;
};
