#pragma once

#include "harvest/harvestkinds.h"
#include "watch/newgiftwatch.h"
#include "web/sites.h"

#include <QString>

#include <optional>

class QSettings;

// What the user chose that the program acts on, with or without its window, kept across runs in
// the user's settings file (the file openUserSettings() opens); the window's own placement is
// UserSettings'. Keys:
//   [sites]        the outside sites' addresses (see SiteAddresses; the GIFTVANE_… variables win)
//   pages/libao, pages/share, pages/tiquma   each tab's page, 0 to 32767 ("下一页" goes past the
//                  slider's 150)
//   signIn/keep    "保持登录"
//   subscriptions  what the new-gift watch looks at (see readSubscriptions(); a file without it
//                  reads the first pages of watch/libao, watch/share, watch/tiquma and
//                  watch/autoReceive, as the watch had them before)
//   watch/minutes  between a subscription's checks, 5 to 1440
//   watch/running  whether the watch ran when the program last ended, to run again at start
// Values that are missing or out of range read as the start-up defaults; a hand-edited "maybe"
// is no yes.
class SessionSettings final {
public:
    static constexpr int kLastPage = 32767;

    // The file must outlive this.
    explicit SessionSettings(QSettings &file);

    QSettings &file() const { return m_file; }
    SiteAddresses sites() const;
    // Why an address is none, or would hand a password to every page; empty when all are usable.
    QString whySitesUnusable() const;

    // The page a tab harvested last; nothing when none was saved, so the tab keeps its own.
    std::optional<int> page(TabId tab) const;
    void setPage(TabId tab, int page);
    bool keepSignIn() const;
    void setKeepSignIn(bool keep);
    WatchChoices watch() const;
    void setWatch(const WatchChoices &watch);
    bool watchRunning() const;
    void setWatchRunning(bool running);

private:
    QSettings &m_file;
};
