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

// What the user chose, kept across runs in the user's settings file (the file that
// openUserSettings() opens). Keys:
//   window/frame     the main window's frame (x, y, width, height), saved as it closes
//   window/client    its client area at the same time, which says where it lies in the frame
//   window/tab       the current tab, 0 to 2
//   pages/libao, pages/share, pages/tiquma   each tab's page, 0 to 32767 ("下一页" goes past
//                    the slider's 150)
//   signIn/keep      "保持登录"
//   watch/libao, watch/share, watch/tiquma   whether the new-gift watch checks that tab's first
//                    page
//   watch/minutes    between the watch's checks, 5 to 1440
//   watch/autoReceive   "自动接收新礼包"
// Values that are missing or out of range read as the start-up defaults.
class UserSettings final {
public:
    static constexpr int kTabs = 3;
    static constexpr int kLastPage = 32767;

    // The new-gift watch's choices, as its dialog last left them.
    struct Watch {
        static constexpr int kFewestMinutes = 5;
        static constexpr int kMostMinutes = 1440;
        static constexpr int kDefaultMinutes = 30;
        std::array<bool, kTabs> tabs{true, true, true};
        int minutes = kDefaultMinutes;
        bool autoReceive = false;
    };

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
    // The page a tab harvested last; nothing when none was saved, so the tab keeps its own.
    std::optional<int> page(int tab) const;
    void setPage(int tab, int page);
    bool keepSignIn() const;
    void setKeepSignIn(bool keep);
    Watch watch() const;
    void setWatch(const Watch &watch);

private:
    QSettings &m_file;
};
