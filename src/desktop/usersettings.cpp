#include "desktop/usersettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <QWindow>

namespace {

qint64 area(const QRect &rect) {
    return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height();
}

// Moves a span of the given length to lie within [low, low + room); it starts at low when it
// cannot fit.
int clampSpan(int start, int length, int low, int room) {
    return qMax(low, qMin(start, low + room - length));
}

} // namespace

QSize windowFrameSize(const QWidget &window) {
    // Qt knows the frame of a window only once it is shown; the window system may tell it as
    // soon as the window exists.
    const QWindow *handle = window.windowHandle();
    const QMargins margins = handle ? handle->frameMargins() : QMargins();
    return window.frameGeometry().size().expandedTo(window.size().grownBy(margins));
}

std::optional<QRect> placeOnScreens(const QRect &frame, const QList<QRect> &availableAreas) {
    if (frame.isEmpty())
        return std::nullopt;
    const QRect *home = nullptr;
    qint64 most = 0;
    for (const QRect &screen : availableAreas) {
        if (const qint64 shared = area(screen.intersected(frame)); shared > most) {
            most = shared;
            home = &screen;
        }
    }
    if (!home)
        return std::nullopt;
    const int width = qMin(frame.width(), home->width());
    const int height = qMin(frame.height(), home->height());
    return QRect(clampSpan(frame.x(), width, home->x(), home->width()),
                 clampSpan(frame.y(), height, home->y(), home->height()), width, height);
}

UserSettings::UserSettings(QSettings &file)
    : m_file(file) {}

void UserSettings::saveWindow(const QWidget &window) {
    saveWindowPlace(window.frameGeometry(), window.geometry());
}

void UserSettings::saveWindowPlace(const QRect &frame, const QRect &client) {
    m_file.setValue(QStringLiteral("window/frame"), frame);
    m_file.setValue(QStringLiteral("window/client"), client);
}

std::optional<QRect> UserSettings::windowFrame() const {
    const QRect frame = m_file.value(QStringLiteral("window/frame")).toRect();
    if (frame.isEmpty())
        return std::nullopt;
    return frame;
}

std::optional<QPoint> UserSettings::clientPlace(const QList<QRect> &availableAreas,
                                                const QMargins &marginsNow, const QSize &frameSizeNow) const {
    std::optional<QRect> frame = windowFrame();
    if (!frame)
        return std::nullopt;
    const QRect client = m_file.value(QStringLiteral("window/client")).toRect();
    const QPoint inFrame = !client.isEmpty() && frame->contains(client.topLeft())
                               ? client.topLeft() - frame->topLeft()
                               : QPoint(marginsNow.left(), marginsNow.top());
    // The window may have grown since (a taller menu bar in another font): it is kept whole as
    // it is now.
    frame->setSize(frame->size().expandedTo(frameSizeNow));
    const std::optional<QRect> placed = placeOnScreens(*frame, availableAreas);
    if (!placed)
        return std::nullopt;
    return placed->topLeft() + inFrame;
}

bool UserSettings::restoreWindow(QWidget &window) const {
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    const QWindow *handle = window.windowHandle();
    const std::optional<QPoint> client =
        clientPlace(screens, handle ? handle->frameMargins() : QMargins(), windowFrameSize(window));
    if (!client)
        return false;
    // Placed by its client area, as restoreGeometry() does: before the window is shown, the
    // window manager has not said how large its frame is, and a frame position would be taken
    // as the client's (the window crept up by its title bar at every start). The window's own
    // size is fixed; only its place is restored.
    window.setGeometry(QRect(*client, window.size()));
    return true;
}

int UserSettings::currentTab() const {
    const int tab = m_file.value(QStringLiteral("window/tab"), 0).toInt();
    return tab >= 0 && tab < kTabs ? tab : 0;
}

void UserSettings::setCurrentTab(int tab) {
    if (tab >= 0 && tab < kTabs)
        m_file.setValue(QStringLiteral("window/tab"), tab);
}

void placeWindow(QWidget &window, const UserSettings *settings) {
    window.winId(); // made now: the frame's size, where the window system tells it before it is shown
    if (settings && settings->restoreWindow(window))
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame(QPoint(), windowFrameSize(window));
    frame.moveCenter(area.center());
    window.move(placeOnScreens(frame, {area}).value_or(frame).topLeft());
}
