#pragma once

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <optional>

class QSettings;
class QWidget;

// Where a window saved at `frame` (its frame, in logical pixels) goes on the screens as they
// are now, given each screen's available area (logical pixels: a screen at scale 2 counts
// half its device pixels). The screen that holds most of the frame holds it; the frame is
// moved to lie wholly inside that screen's area, and cut to it when larger. Nothing when the
// frame is on no screen (a monitor unplugged since) or is empty.
std::optional<QRect> placeOnScreens(const QRect &frame, const QList<QRect> &availableAreas);

// The size of the window's frame, as far as it is known before the window is first shown:
// its own size where the window system has not said yet.
QSize windowFrameSize(const QWidget &window);

class UserSettings;

// Moves a window that was never shown where `settings` saved it, kept whole on its screen; else
// (nothing saved, or a place off every screen) centred on the primary screen, its top left (title
// bar and menus) on the screen where the screen is smaller than the window.
void placeWindow(QWidget &window, const UserSettings *settings);

// Where the user left the main window, kept across runs in the user's settings file (the file that
// openUserSettings() opens). Keys:
//   window/frame     the main window's frame (x, y, width, height), saved as it closes
//   window/client    its client area at the same time, which says where it lies in the frame
//   window/tab       the current tab, 0 to 2
// What the program does with the user's choices beyond the window is SessionSettings'.
// Values that are missing or out of range read as the start-up defaults.
class UserSettings final {
public:
    static constexpr int kTabs = 3;

    // The file must outlive this.
    explicit UserSettings(QSettings &file);

    void saveWindow(const QWidget &window);
    void saveWindowPlace(const QRect &frame, const QRect &client);
    // Moves the window where it was saved, kept whole on its screen; false when nothing was
    // saved or the saved place is on no screen, and the window stays where it is.
    bool restoreWindow(QWidget &window) const;
    // Where the client area goes to bring the frame back where it was saved, on screens with
    // these available areas; see placeOnScreens(). The frame's margins and size as the window
    // knows them now stand in for what a file saved without the client area does not say.
    std::optional<QPoint> clientPlace(const QList<QRect> &availableAreas, const QMargins &marginsNow,
                                      const QSize &frameSizeNow) const;
    std::optional<QRect> windowFrame() const;

    int currentTab() const;
    void setCurrentTab(int tab);

private:
    QSettings &m_file;
};
