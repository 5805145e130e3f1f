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

// Classes of widgets that hold a child no one can reach (see leaveOutOfTree()).
inline QByteArrayList &paneClasses() {
    static QByteArrayList names;
    return names;
}

constexpr char kLeftOut[] = "giftvaneLeftOutOfTree";

// A widget as Qt presents it, less its children marked as left out.
class Pane final : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface *child(int index) const override {
        const QList<QWidget *> shown = children();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index))
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child && child->object() ? int(children().indexOf(child->object())) : -1;
    }

private:
    QList<QWidget *> children() const {
        QList<QWidget *> out;
        for (QWidget *child : widget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (!child->isWindow() && !child->property(kLeftOut).toBool())
                out.append(child);
        }
        return out;
    }
};

inline QAccessibleInterface *factory(const QString &className, QObject *object) {
    if (!object)
        return nullptr;
    if (object == qApp)
        return new Application;
    // By its class's name first: Qt asks about every object, some of them not whole (the
    // browser's items as they go), and those must not be touched.
    const QByteArray name = className.toLatin1();
    const bool window = windowClasses().contains(name);
    if (!(window || paneClasses().contains(name)) || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (widget->isWindow())
        return window ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
    return window ? nullptr : new Pane(widget);
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

// Leaves a widget that no one can reach (covered by another, out of the keyboard's way) out of
// the tree that screen readers walk: its parent is presented without it.
inline void leaveOutOfTree(QWidget *widget) {
    presentApplication();
    widget->setProperty(accessibility::kLeftOut, true);
    const QByteArray parentClass = widget->parentWidget()->metaObject()->className();
    if (!accessibility::paneClasses().contains(parentClass))
        accessibility::paneClasses().append(parentClass);
}
