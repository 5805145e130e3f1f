#pragma once

#include "app/gifttab.h"

#include <QWidget>

#include <array>

class QTabBar;
class SessionSettings;

// SSTab1: the three tabs under their tab bar, one shown at a time. Controls on a tab are placed
// relative to it; the update check enables it.
class TabStack final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TabStack)

public:
    TabStack(const HarvestContext &harvests, Desktop &desktop, QWidget *client);

    const std::array<GiftTab *, kTabCount> &tabs() const { return m_tabs; }
    GiftTab *tab(TabId id) const { return m_tabs[int(id)]; }
    GiftTab *current() const { return m_tabs[m_current]; }
    int currentIndex() const { return m_current; }
    // The tab the user left open, shown without telling chosen().
    void showQuietly(int index);
    // A listing-site run of some tab resolves gift codes.
    bool isResolving() const;
    // Greys the code's rows on every tab.
    void markReceived(const QString &code);
    // Start-up's pages: the first tab from page 1, unless the user reached others last time.
    void restorePages(const SessionSettings *settings);

Q_SIGNALS:
    void shown(GiftTab *tab);
    // The user chose this tab on the tab bar.
    void chosen(int index);

private:
    void show(int index);

    QTabBar *m_tabBar = nullptr;
    std::array<GiftTab *, kTabCount> m_tabs{};
    int m_current = 0;
};
