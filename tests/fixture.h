#pragma once

#include "giftlistmodel.h"
#include "mainwindow.h"
#include "recordingdesktop.h"
#include "sandbox.h"
#include "webclient.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <memory>

// A main window wired to the stand-in sites and a recording desktop.
struct Fixture {
    std::unique_ptr<sandbox::Sandbox> sites = std::make_unique<sandbox::Sandbox>(3);
    RecordingDesktop desktop;
    std::unique_ptr<WebClient> web = std::make_unique<WebClient>();
    std::unique_ptr<MainWindow> window;
    std::optional<QCoro::Task<>> startup;
    QTime now{9, 5, 3};

    SiteAddresses addresses() const {
        using sandbox::Site;
        return {sites->address(Site::Listing),   sites->address(Site::Share),
                sites->address(Site::CloudDisk), sites->address(Site::Update),
                sites->address(Site::Update),    sites->address(Site::Update) + u"/kf.html"};
    }

    // Builds the window; started, it runs the update check and waits for start-up to end.
    bool open(bool started = true, int parallelism = HarvestRun::kDefaultParallelism) {
        if (!sites->start())
            return false;
        Services services{&desktop, web.get(), addresses(), [this] { return now; }, parallelism};
        window = std::make_unique<MainWindow>(services);
        if (!started)
            return true;
        QSignalSpy done(window.get(), &MainWindow::startupFinished);
        startup.emplace(window->start());
        return done.wait(5000) || done.size() == 1;
    }

    template <typename T = QWidget> T *control(const char *name, int tab = -1) const {
        QWidget *root = window.get();
        if (tab >= 0)
            root = window->findChild<QWidget *>(QStringLiteral("SSTab1Page%1").arg(tab));
        return root->findChild<T *>(QString::fromLatin1(name));
    }
    void click(const char *name) const { control<QAbstractButton>(name)->click(); }
    GiftListModel &list(int tab) const { return *window->model(tab); }
    void select(int tab, int row) const { window->listView(tab)->setCurrentIndex(list(tab).index(row, 0)); }
    void fill(int tab, const QStringList &codes, const QStringList &marks = {}) const {
        for (int i = 0; i < codes.size(); ++i) {
            const int row = list(tab).AppendGiftRow(u"资源" + QString::number(i + 1), u"1.0"_qs, {});
            list(tab).setCode(row, codes[i]);
            list(tab).setMark(row, marks.value(i));
        }
    }
    bool waitIdle(int tab, int timeoutMs = 10000) const {
        // An event loop that wakes for each reply; QTest::qWaitFor naps 10 ms between turns.
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!window->isHarvesting(tab))
                loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        poll.start(1);
        loop.exec();
        return !window->isHarvesting(tab);
    }
};
