#pragma once
// What a command of the program works with: the working state, the dialog seam and the screen
// cursor. The main window hands one to every subsystem's command; nothing else is reached.
#include <QString>
#include <functional>

#include "uikit/seam.h"
#include "workspace/workspace.h"

class QDialog;

// Screen cursors by number, as the program registers them.
enum ScreenCursor { crDefault = 0, crHourGlass = -11, crLoupe = 30 };

struct CommandContext {
    tessera::Workspace& ws;
    const DialogSeam& seam;
    std::function<void(int cursor)> setCursor;

    void Message(const QString& text, const QString& caption) const {
        seam.showMessage(text, caption);
    }
    int RunModal(QDialog& dialog) const { return seam.runModal(dialog); }
};

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
