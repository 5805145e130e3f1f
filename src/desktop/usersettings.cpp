#include "desktop/usersettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <QWindow>

#include <array>

namespace {

constexpr std::array<const char *, UserSettings::kTabs> kPageKeys{"pages/libao", "pages/share",
                                                                  "pages/tiquma"};
constexpr std::array<const char *, UserSettings::kTabs> kWatchKeys{"watch/libao", "watch/share",
                                                                   "watch/tiquma"};

qint64 area(const QRect &rect) {
    return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height();
}

// Moves a span of the given length to lie within [low, low + room); it starts at low when it
// cannot fit.
int clampSpan(int start, int length, int low, int room) {
    return qMax(low, qMin(start, low + room - length));
}

// A yes or no as the file holds it; anything else (a hand-edited "maybe") is the default, not yes.
bool flag(const QSettings &file, const QString &key, bool fallback) {
    const QString value = file.value(key).toString().trimmed().toLower();
    if (value == u"true" || value == u"1")
        return true;
    if (value == u"false" || value == u"0")
        return false;
    return fallback;
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

std::optional<int> UserSettings::page(int tab) const {
    if (tab < 0 || tab >= kTabs)
        return std::nullopt;
    bool ok = false;
    const int page = m_file.value(QString::fromLatin1(kPageKeys[tab])).toInt(&ok);
    if (!ok || page < 0 || page > kLastPage)
        return std::nullopt;
    return page;
}

void UserSettings::setPage(int tab, int page) {
    if (tab >= 0 && tab < kTabs && page >= 0 && page <= kLastPage)
        m_file.setValue(QString::fromLatin1(kPageKeys[tab]), page);
}

bool UserSettings::keepSignIn() const {
    return flag(m_file, QStringLiteral("signIn/keep"), false);
}

void UserSettings::setKeepSignIn(bool keep) {
    m_file.setValue(QStringLiteral("signIn/keep"), keep);
}

UserSettings::Watch UserSettings::watch() const {
    Watch watch;
    for (int tab = 0; tab < kTabs; ++tab)
        watch.tabs[tab] = flag(m_file, QString::fromLatin1(kWatchKeys[tab]), watch.tabs[tab]);
    bool ok = false;
    const int minutes = m_file.value(QStringLiteral("watch/minutes")).toInt(&ok);
    if (ok && minutes >= Watch::kFewestMinutes && minutes <= Watch::kMostMinutes)
        watch.minutes = minutes;
    watch.autoReceive = flag(m_file, QStringLiteral("watch/autoReceive"), false);
    return watch;
}

void UserSettings::setWatch(const Watch &watch) {
    for (int tab = 0; tab < kTabs; ++tab)
        m_file.setValue(QString::fromLatin1(kWatchKeys[tab]), watch.tabs[tab]);
    if (watch.minutes >= Watch::kFewestMinutes && watch.minutes <= Watch::kMostMinutes)
        m_file.setValue(QStringLiteral("watch/minutes"), watch.minutes);
    m_file.setValue(QStringLiteral("watch/autoReceive"), watch.autoReceive);
}
