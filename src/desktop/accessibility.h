#pragma once

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QByteArrayList>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace accessibility {

// The application as screen readers see it: Qt's own, except that a window that was never
// made on the screen is left out. The browser's QQuickWidget renders through such a window
// (QQuickWidgetOffscreenWindow, titled "Offscreen"), which Qt would present as a top-level
// window of the program with nothing in it.
class Application final : public QAccessibleObject {
public:
    Application()
        : QAccessibleObject(qApp) {}

    QAccessibleInterface *parent() const override { return nullptr; }
    int childCount() const override { return int(windows().size()); }
    QAccessibleInterface *child(int index) const override {
        const QObjectList shown = windows();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index))
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child ? int(windows().indexOf(child->object())) : -1;
    }
    QAccessibleInterface *focusChild() const override {
        QWindow *focus = QGuiApplication::focusWindow();
        return focus ? focus->accessibleRoot() : nullptr;
    }
    QString text(QAccessible::Text kind) const override {
        switch (kind) {
        case QAccessible::Name:
            return QGuiApplication::applicationName();
        case QAccessible::Description:
            return QGuiApplication::applicationVersion();
        default:
            return {};
        }
    }
    QAccessible::Role role() const override { return QAccessible::Application; }
    QAccessible::State state() const override { return {}; }

private:
    // The objects behind the top-level windows, as Qt lists them (no pop-ups), less the ones
    // never made on the screen.
    static QObjectList windows() {
        QObjectList out;
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (window->type() == Qt::Popup || window->type() == Qt::Desktop || !window->handle())
                continue;
            if (QAccessibleInterface *root = window->accessibleRoot(); root && root->object())
                out.append(root->object());
        }
        return out;
    }
};

inline QByteArrayList &windowClasses() {
    static QByteArrayList names;
    return names;
}

inline QAccessibleInterface *factory(const QString &className, QObject *object) {
    if (!object)
        return nullptr;
    if (object == qApp)
        return new Application;
    // By its class's name first: Qt asks about every object, some of them not whole (the
    // browser's items as they go), and those must not be touched.
    if (!windowClasses().contains(className.toLatin1()) || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    return widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

} // namespace accessibility

// Makes the program's windows what screen readers expect: every top-level window a window
// with a name, and none that is not on the screen. Call before the application's interface
// is first asked for (before QApplication, or before the first window is shown).
inline void presentApplication() {
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(&accessibility::factory);
    installed = true;
}

// Qt presents a plain widget shown as a window as a "filler" without a name. Windows of this
// class (or of a class derived from it) are presented as windows, named by their title.
inline void presentAsWindow(const char *className) {
    presentApplication();
    if (!accessibility::windowClasses().contains(className))
        accessibility::windowClasses().append(className);
}
