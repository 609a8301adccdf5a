#include "uikit/captions.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

class EmptyCaptionFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
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

void KeepEmptyCaptionsEmpty() {
    static EmptyCaptionFilter* filter = nullptr;
    if (filter || !qApp) return;
    filter = new EmptyCaptionFilter(qApp);
    qApp->installEventFilter(filter);
}
