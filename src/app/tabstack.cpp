#include "app/tabstack.h"

#include "app/controls.h"
#include "session/sessionsettings.h"

#include <QDateTime>
#include <QFrame>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTreeView>

#include <algorithm>

TabStack::TabStack(const HarvestContext &harvests, Desktop &desktop, QWidget *client)
    : QWidget(client) {
    controls::place(this, "SSTab1", controls::twips(120, 120, 10935, 7815));
    setEnabled(false);
    m_tabBar = new QTabBar(this);
    m_tabBar->setObjectName(QStringLiteral("SSTab1Tabs"));
    m_tabBar->setExpanding(true);
    m_tabBar->setDrawBase(false);
    for (int i = 0; i < kTabCount; ++i)
        m_tabBar->addTab(tabCaption(TabId(i)));
    m_tabBar->setGeometry(0, 0, width(), 28);
    auto *frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setGeometry(0, 27, width(), height() - 27);
    const TabContext context{harvests, desktop, this};
    for (int i = 0; i < kTabCount; ++i) {
        m_tabs[i] = new GiftTab(TabId(i), context, this);
        m_tabs[i]->setGeometry(0, 0, width(), height());
        // A list has no label of its own: it is read as the tab it is on (captions never change).
        m_tabs[i]->view()->setAccessibleName(tabCaption(TabId(i)));
        m_tabs[i]->setVisible(i == 0);
    }
    m_tabBar->raise();
    connect(m_tabBar, &QTabBar::currentChanged, this, [this](int current) {
        show(current);
        Q_EMIT chosen(current);
    });
}

void TabStack::showQuietly(int index) {
    const QSignalBlocker quiet(m_tabBar);
    m_tabBar->setCurrentIndex(index);
    show(m_tabBar->currentIndex());
}

void TabStack::show(int index) {
    for (int i = 0; i < kTabCount; ++i)
        m_tabs[i]->setVisible(i == index);
    m_tabBar->raise();
    m_current = index;
    Q_EMIT shown(current());
}

bool TabStack::isResolving() const {
    return std::any_of(m_tabs.begin(), m_tabs.end(), [](GiftTab *tab) { return tab->isResolving(); });
}

void TabStack::markReceived(const QString &code) {
    for (GiftTab *each : m_tabs)
        each->harvests().markReceived(code, QDateTime::currentDateTimeUtc());
}

void TabStack::restorePages(const SessionSettings *settings) {
    tab(TabId::Libao)->setPageNumber(1);
    // The pages the user reached last time win over the start values: "直接获取" goes on from them.
    if (settings) {
        for (GiftTab *each : m_tabs) {
            if (const std::optional<int> page = settings->page(each->id()))
                each->setPageNumber(*page);
        }
    }
}
