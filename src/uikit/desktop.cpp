#include "uikit/desktop.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

class DesktopFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show) {
            // Centred on the main window by the client area's geometry, which does not depend
            // on whether the window manager's frame is known yet (it is not at the first
            // showing, and the frame's height would then shift every later showing).
            auto* dialog = qobject_cast<QDialog*>(watched);
            if (dialog && dialog->isWindow() && dialog->parentWidget()) {
                QRect place(QPoint(0, 0), dialog->size());
                place.moveCenter(dialog->parentWidget()->window()->geometry().center());
                if (dialog->geometry() != place) dialog->setGeometry(place);
            }
        }
        if (type == QEvent::Show || type == QEvent::WindowTitleChange) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isWindow() && widget->windowHandle()) {
                // The platform puts the program's name in place of an empty title; one blank
                // reads as empty. The widget's own caption stays as it was set.
                QWindow* window = widget->windowHandle();
                const QString shown =
                    widget->windowTitle().isEmpty() ? QStringLiteral(" ") : widget->windowTitle();
                if (window->title() != shown) window->setTitle(shown);
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void AdaptToDesktop() {
    static DesktopFilter* filter = nullptr;
    if (filter || !qApp) return;
    filter = new DesktopFilter(qApp);
    qApp->installEventFilter(filter);
}
