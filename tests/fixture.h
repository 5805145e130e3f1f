#pragma once

#include "app/activitylog.h"
#include "app/mainwindow.h"
#include "giftlist/giftlistmodel.h"
#include "ledger/ledger.h"
#include "recordingdesktop.h"
#include "sandbox/sandbox.h"
#include "session/sessionsettings.h"
#include "standin.h"
#include "warnings.h"
#include "web/webclient.h"

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTreeView>

#include <memory>

// A main window wired to the stand-in sites and a recording desktop.
struct Fixture {
    std::unique_ptr<sandbox::Sandbox> sites = std::make_unique<sandbox::Sandbox>(3);
    RecordingDesktop desktop;
    std::unique_ptr<WebClient> web = std::make_unique<WebClient>();
    std::unique_ptr<Ledger> ledger; // none unless a test sets one
    std::unique_ptr<GiftSession> session;
    UserSettings *settings = nullptr;           // none unless a test sets one: nothing is remembered
    SessionSettings *sessionSettings = nullptr; // likewise
    QString signInPlugin;                       // the program's own unless a test sets one
    bool tray = false;                          // whether the desktop has a system tray (offscreen has none)
    std::unique_ptr<MainWindow> window;
    QTime now{9, 5, 3};

    ~Fixture() {
        // The window cancels its jobs before the client goes; they delete themselves.
        window.reset();
        session.reset();
        web.reset();
        deleteEndedJobs();
    }

    SiteAddresses addresses() const { return addressesOf(*sites); }

    // Builds the window; started, it runs the update check and waits for start-up to end.
    bool open(bool started = true, int parallelism = HarvestRun::kDefaultParallelism) {
        if (!sites->start())
            return false;
        window.reset(); // a window opened before goes before its session
        session = std::make_unique<GiftSession>(*web, desktop, addresses(), ledger.get(), sessionSettings);
        Services services{&desktop, session.get(), [this] { return now; }, parallelism};
        services.settings = settings;
        services.signInPlugin = signInPlugin;
        services.trayAvailable = [this] { return tray; };
        window = std::make_unique<MainWindow>(services);
        if (!started)
            return true;
        QSignalSpy done(window.get(), &MainWindow::startupFinished);
        window->start();
        return done.wait(scaled(5000)) || done.size() == 1;
    }

    template <typename T = QWidget> T *control(const char *name, int tab = -1) const {
        QWidget *root = window.get();
        if (tab >= 0)
            root = window->findChild<QWidget *>(QStringLiteral("SSTab1Page%1").arg(tab));
        return root->findChild<T *>(QString::fromLatin1(name));
    }
    void click(const char *name) const { control<QAbstractButton>(name)->click(); }
    GiftTab &tab(int index) const { return *window->tab(TabId(index)); }
    GiftListModel &list(int index) const { return tab(index).list(); }
    QTreeView *view(int index) const { return tab(index).view(); }
    void showTab(int index) const {
        window->findChild<QTabBar *>(QStringLiteral("SSTab1Tabs"))->setCurrentIndex(index);
    }
    void select(int index, int row) const { view(index)->setCurrentIndex(list(index).index(row, 0)); }
    // A double-click with the mouse on a row of a tab's list, or on its blank space (row -1).
    void doubleClick(int index, int row) const {
        QTreeView *list = view(index);
        const QPoint at = row >= 0 ? list->visualRect(this->list(index).index(row, 1)).center()
                                   : QPoint(10, list->viewport()->height() - 5);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    void fill(int tab, const QStringList &codes, const QStringList &marks = {}) const {
        for (int i = 0; i < codes.size(); ++i) {
            const int row = list(tab).AppendGiftRow(u"资源" + QString::number(i + 1), u"1.0"_qs, {});
            list(tab).setCode(row, codes[i]);
            list(tab).setMark(row, marks.value(i));
        }
    }
    bool waitIdle(int index, int timeoutMs = 10000) const {
        return runUntil([&] { return !tab(index).isHarvesting(); }, timeoutMs);
    }
};
