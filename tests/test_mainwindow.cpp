#include "app/receiveflow.h"
#include "fixture.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTreeView>

using sandbox::Site;

namespace {

// What a screen reader announces for the control.
QString spoken(QWidget *widget) {
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

} // namespace

class TestMainWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startupWritesTheStatusBarAndLog() {
        Fixture f;
        QVERIFY(f.open(false));
        QCOMPARE(f.window->statusText(1), u"运行提示："_qs);
        QCOMPARE(f.window->statusText(2), u"检测更新中.."_qs);
        QCOMPARE(f.window->statusText(3), u"1.6.5"_qs);
        QCOMPARE(f.window->statusText(4), u"Time"_qs);
        QCOMPARE(f.window->log()->line(0), u"[9:5:3]正在检测更新.."_qs);
        QVERIFY(!f.control("SSTab1")->isEnabled());
        QVERIFY(!f.window->ListingIdle());

        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.now = QTime(14, 3, 9);
        f.window->start();
        QVERIFY(f.window->isVisible());
        QVERIFY(done.wait(scaled(5000)));
        QCOMPARE(f.window->statusText(2), u"欢迎使用Corvane系列软件"_qs);
        QCOMPARE(f.window->log()->line(1), u"[14:3:9]当前为最新版本.."_qs);
        QTRY_COMPARE(f.window->log()->currentRow(), 1);
        QVERIFY(f.control("SSTab1")->isEnabled());
        QVERIFY(f.window->ListingIdle());
        QCOMPARE(f.sites->requests(Site::Update).last().target, QByteArray("/version/main.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(f.window->statusText(4), u"14:3:9"_qs, scaled(2500));
    }

    void updateCheckOutcomes_data() {
        QTest::addColumn<QByteArray>("versionFile");
        QTest::addColumn<bool>("runs");
        QTest::addColumn<QString>("message");
        QTest::newRow("current among others") << QByteArray("abc115:V1.6.5|def") << true << QString();
        QTest::newRow("newer") << QByteArray("115:V1.6.6|") << false
                               << u"发现最新版本![V1.6.6]\r\n \r\n确定后自动打开更新地址!"_qs;
        QTest::newRow("lower-case v") << QByteArray("115:v1.6.5|") << false
                                      << u"发现最新版本![v1.6.5]\r\n \r\n确定后自动打开更新地址!"_qs;
        QTest::newRow("no bar") << QByteArray("115:V1.6.5") << false
                                << u"发现最新版本![]\r\n \r\n确定后自动打开更新地址!"_qs;
        QTest::newRow("empty file") << QByteArray() << false << u"检测更新失败!请您稍后再试"_qs;
        QTest::newRow("no version of ours")
            << QByteArray("xunlei:V2|") << false << u"检测更新失败!请您稍后再试"_qs;
    }
    void updateCheckOutcomes() {
        QFETCH(QByteArray, versionFile);
        QFETCH(bool, runs);
        QFETCH(QString, message);
        Fixture f;
        f.sites->setVersionFile(versionFile);
        QVERIFY(f.open(false));
        QSignalSpy ended(f.window.get(), &MainWindow::programEnd);
        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.window->start();
        QTRY_VERIFY_WITH_TIMEOUT(done.size() + ended.size() == 1, scaled(5000));
        QCOMPARE(done.size() == 1, runs);
        QCOMPARE(f.desktop.texts(), runs ? QStringList() : QStringList{message});
        if (runs)
            return;
        const bool noAnswer = !versionFile.contains("115:");
        QCOMPARE(f.desktop.messages[0].icon, noAnswer ? Desktop::Icon::Warning : Desktop::Icon::Information);
        QCOMPARE(f.desktop.messages[0].title, u"Corvane系列软件"_qs);
        QCOMPARE(f.desktop.opened.size(), noAnswer ? 0 : 1);
        if (!noAnswer)
            QCOMPARE(f.desktop.opened[0].toString(),
                     QString(f.sites->address(Site::Update) + u"/forum.php?mod=viewthread&tid=24848"));
        QVERIFY(!f.window->ListingIdle());
    }

    void unreachableOrErrorUpdateServer() {
        Fixture f;
        f.sites->setFault(QStringLiteral("^/version/"), sandbox::Fault::Reset);
        QVERIFY(f.open(false));
        QSignalSpy ended(f.window.get(), &MainWindow::programEnd);
        f.window->start();
        QVERIFY(ended.wait(scaled(5000)));
        QCOMPARE(f.desktop.texts(), QStringList{u"检测更新失败!请您稍后再试"_qs});

        Fixture g;
        g.sites->setFault(QStringLiteral("^/version/"), sandbox::Fault::NotFound);
        QVERIFY(g.open(false));
        QSignalSpy gone(g.window.get(), &MainWindow::programEnd);
        g.window->start();
        QVERIFY(gone.wait(scaled(5000)));
        // An error page is no answer: it must not send the user to the update page.
        QCOMPARE(g.desktop.texts(), QStringList{u"检测更新失败!请您稍后再试"_qs});
        QVERIFY(g.desktop.opened.isEmpty());
    }

    void closingMidWorkEndsCleanly() {
        // A harvest, a receive and an update check all wait on the sites when the window goes.
        Fixture f;
        QVERIFY(f.open());
        f.sites->setFault(QStringLiteral("^/libao/1002"), sandbox::Fault::Hang);
        f.sites->setFault(QStringLiteral("ct=filegift"), sandbox::Fault::Hang);
        f.sites->setFault(QStringLiteral("^/version/"), sandbox::Fault::Hang);
        f.control<QSlider>("Slider1", 0)->setValue(2);
        f.click("Command8");
        QVERIFY(runUntil([&] { return f.tab(0).isResolving(); }));
        f.fill(1, {u"gv0"_qs});
        f.showTab(1);
        f.select(1, 0);
        f.window->receiveSelected();
        f.window->start();
        QVERIFY(runUntil([&] { return f.sites->requests(Site::Update).size() == 2; }));
        QPointer<QObject> run = f.tab(0).harvests().run();
        QPointer<QObject> receive = f.window->receiving();
        QVERIFY(run && receive);

        QSignalSpy ended(f.window.get(), &MainWindow::programEnd);
        f.window->close();
        QCOMPARE(ended.size(), 1);
        f.window.reset();
        deleteEndedJobs();
        QVERIFY(!run && !receive);
    }

    void everyControlIsInPlace_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        const auto px = [](int l, int t, int w, int h) {
            return QRect(qRound(l / 15.0), qRound(t / 15.0), qRound(w / 15.0), qRound(h / 15.0));
        };
        const char *names[3][9] = {
            {"Command2", "Command3", "Command4", "Command8", "Slider1", "ProgressBar1", "Label3", "Command1",
             "ListView1"},
            {"Command9", "Command16", "Command15", "Command11", "Slider2", "ProgressBar2", "Label11",
             "Command17", "ListView1"},
            {"Command20", "Command5", "Command13", "Command18", "Slider3", "ProgressBar3", "Label16", nullptr,
             "ListView1"},
        };
        const QString captions[9] = {u"直接获取"_qs,
                                     u"上一页"_qs,
                                     u"导出礼包"_qs,
                                     u"获取"_qs,
                                     {},
                                     {},
                                     u"获取第1页："_qs,
                                     u"开始获取"_qs,
                                     {}};
        const QRect places[9] = {
            px(4080, 5400, 1095, 975), px(5280, 5400, 1095, 975), px(4080, 6480, 2295, 975),
            px(8400, 5400, 2175, 375), px(6360, 6000, 4335, 495), px(6600, 6720, 4095, 735),
            px(6600, 5520, 1695, 255), px(4560, 4200, 2175, 855), px(120, 480, 10455, 4815)};
        for (int tab = 0; tab < 3; ++tab) {
            for (int i = 0; i < 9; ++i) {
                if (names[tab][i])
                    QTest::addRow("%s", names[tab][i])
                        << tab << QString::fromLatin1(names[tab][i]) << captions[i] << places[i];
            }
            const char *search[3][4] = {{"Text1", "Command7", "Label1", "Label6"},
                                        {"Text2", "Command12", "Label9", "Label8"},
                                        {"Text3", "Command14", "Label13", "Label14"}};
            // The search panel's controls sit in the panel at 120, 5400.
            QTest::addRow("%s", search[tab][0]) << tab << QString::fromLatin1(search[tab][0]) << QString()
                                                << px(120 + 120, 5400 + 600, 3495, 420);
            QTest::addRow("%s", search[tab][1]) << tab << QString::fromLatin1(search[tab][1])
                                                << u"开始搜索"_qs << px(120 + 120, 5400 + 1320, 3495, 495);
            QTest::addRow("%s", search[tab][3]) << tab << QString::fromLatin1(search[tab][3]) << u"?"_qs
                                                << px(120 + 3360, 5400 + 90, 240, 210);
        }
        QTest::newRow("SSTab1") << -1 << u"SSTab1"_qs << QString() << px(120, 120, 10935, 7815);
        QTest::newRow("List1") << -1 << u"List1"_qs << QString() << px(11280, 480, 3135, 7440);
        QTest::newRow("mee") << -1 << u"mee"_qs << QString() << px(7680, 1080, 2655, 1575);
        QTest::newRow("S1") << -1 << u"S1"_qs << QString() << px(0, 8235, 14670, 615);
    }
    void everyControlIsInPlace() {
        QFETCH(int, tab);
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        Fixture f;
        QVERIFY(f.open(false));
        QWidget *root = tab < 0 ? f.window->centralWidget() : f.control("SSTab1");
        QWidget *page =
            tab < 0 ? f.window->centralWidget() : f.control(qPrintable(u"SSTab1Page" + QString::number(tab)));
        QWidget *widget = page->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(QRect(widget->mapTo(root, QPoint(0, 0)), widget->size()), geometry);
        if (!caption.isEmpty()) {
            QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), caption);
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                QCOMPARE(button->text(), caption);
        }
    }

    void accessibleNamesFollowTheScreen() {
        Fixture f;
        QVERIFY(f.open());
        for (const char *keyword : {"Text1", "Text2", "Text3"})
            QCOMPARE(spoken(f.control(keyword)), u"请输入您要搜索的资源："_qs);
        f.control<QSlider>("Slider1")->setValue(37);
        QCOMPARE(spoken(f.control("Label3")), u"获取第37页："_qs);
        QCOMPARE(spoken(f.control("Slider1")), u"获取第37页："_qs);
        QCOMPARE(spoken(f.control("Command2")), u"直接获取"_qs);
        f.click("Command2");
        QCOMPARE(spoken(f.control("Command2")), u"下一页"_qs);
        QVERIFY(f.waitIdle(0));
        QCOMPARE(spoken(f.control("ProgressBar1")), u"获取进度"_qs);
        // 开始获取 under the first list is out of everyone's reach, screen readers' too.
        QAccessibleInterface *page = QAccessible::queryAccessibleInterface(&f.tab(0));
        QStringList children;
        for (int i = 0; i < page->childCount(); ++i)
            children.append(page->child(i)->object()->objectName());
        QVERIFY(children.contains(u"ListView1"_qs) && !children.contains(u"Command1"_qs));
        QCOMPARE(page->indexOfChild(QAccessible::queryAccessibleInterface(f.view(0))),
                 children.indexOf(u"ListView1"_qs));
    }

    void everyInputControlHasAName() {
        Fixture f;
        QVERIFY(f.open(false));
        QStringList unnamed;
        int controls = 0;
        for (QWidget *widget : f.window->findChildren<QWidget *>()) {
            // Qt's own parts of a control, and the menu bar's overflow button and menu, which
            // appear only when its captions do not fit.
            if (widget->objectName().startsWith(u"qt_") || qobject_cast<QMenuBar *>(widget->parentWidget()))
                continue;
            const bool takesInput = widget->focusPolicy() != Qt::NoFocus ||
                                    qobject_cast<QAbstractButton *>(widget) ||
                                    qobject_cast<QMenu *>(widget) || qobject_cast<QMenuBar *>(widget);
            if (!takesInput)
                continue;
            ++controls;
            if (spoken(widget).isEmpty())
                unnamed.append(QString::fromLatin1(widget->metaObject()->className()) + u" " +
                               widget->objectName());
        }
        QCOMPARE(unnamed, QStringList());
        // Per tab: the list, five buttons, the slider, the keyword box, and (first two tabs) the
        // button under the list; the log, two options, the tab bar and its arrows, two menus.
        QCOMPARE(controls, 9 + 9 + 8 + 1 + 2 + 3 + 2);

        // Controls without a label of their own are read as what the screen shows them to be.
        const QStringList captions{u"资源①"_qs, u"资源②"_qs, u"资源③"_qs};
        for (int tab = 0; tab < 3; ++tab)
            QCOMPARE(spoken(f.view(tab)), captions[tab]);
        QCOMPARE(spoken(f.window->log()), u"运行日志"_qs);
        f.showTab(2);
        QCOMPARE(spoken(f.control("SSTab1Tabs")), captions[2]);
    }

    void windowMenusAndStatusBar() {
        Fixture f;
        QVERIFY(f.open(false));
        QCOMPARE(f.window->windowTitle(), u"Giftvane"_qs);
        QCOMPARE(f.window->centralWidget()->size(), QSize(978, 590));
        QStringList bar;
        for (QAction *action : f.window->menuBar()->actions()) {
            QVERIFY(!action->menu());
            bar.append(action->objectName() + u"=" + action->text());
        }
        QCOMPARE(bar, (QStringList{u"dl115=登录115"_qs, u"tcdl=退出登录"_qs, u"jsjl=接收记录"_qs,
                                   u"xlbtx=新礼包提醒"_qs, u"sj=软件说明"_qs, u"kf=客服中心"_qs,
                                   u"bbs=官方论坛"_qs, u"tuichu=退出程序"_qs}));
        QStringList popup;
        for (QAction *action : f.window->popupMenu()->actions())
            popup.append(action->isSeparator() ? u"-"_qs : action->text());
        QCOMPARE(popup, (QStringList{u"接收礼包"_qs, u"-"_qs, u"复制礼包"_qs, u"-"_qs, u"打开礼包"_qs,
                                     u"-"_qs, u"批量接收"_qs}));
        QCOMPARE(f.window->popupMenu()->title(), u"程序菜单"_qs);
        const int widths[4] = {96, 685, 96, 96};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(f.control(qPrintable(u"S1Panel" + QString::number(i + 1)))->width(), widths[i]);
        QVERIFY(!f.control("mee")->isVisible());
        QTreeView *list = f.view(0);
        QCOMPARE(list->columnWidth(1), 367);
        QVERIFY(list->isColumnHidden(4) && list->isColumnHidden(5));
        QCOMPARE(list->model()->headerData(3, Qt::Horizontal).toString(), u"礼包码"_qs);
    }

    void notices() {
        Fixture f;
        QVERIFY(f.open());
        QCOMPARE(f.control("Label14", 2)->toolTip(), u"软件说明"_qs);
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(f.control("Label8", 1), &click);
        f.window->findChild<QAction *>(u"sj"_qs)->trigger();
        QCOMPARE(f.desktop.messages.size(), 2);
        QCOMPARE(f.desktop.messages[0].title, u"Corvane系列软件"_qs);
        QCOMPARE(f.desktop.messages[0].text,
                 u"本程序只用于信息的采集与整理，获取到的资源均来自网络，内容与Corvane及开发者无关"_qs);
        QCOMPARE(f.desktop.messages[1].title, u"Corvane软件"_qs);
        QCOMPARE(f.desktop.messages[1].text, u"本程序仅做采集整理服务，内容均为网友提供，\r\n\r\n"
                                             u"如有任何问题与Corvane及开发者无关,请勿将程序用于非法用途"_qs);
        f.window->findChild<QAction *>(u"kf"_qs)->trigger();
        f.window->findChild<QAction *>(u"bbs"_qs)->trigger();
        QCOMPARE(f.desktop.opened, (QList<QUrl>{QUrl(f.addresses().support), QUrl(f.addresses().forum)}));
        QSignalSpy ended(f.window.get(), &MainWindow::programEnd);
        f.window->findChild<QAction *>(u"tuichu"_qs)->trigger();
        QCOMPARE(ended.size(), 1);
        f.window->close();
        QCOMPARE(ended.size(), 2);
    }

    void logClicks() {
        Fixture f;
        QVERIFY(f.open());
        ActivityLog *log = f.window->log();
        emit log->clicked(log->model()->index(0, 0));
        QTextDocument shown; // what the tooltip shows
        shown.setHtml(log->toolTip());
        QCOMPARE(shown.toPlainText(), u"[9:5:3]正在检测更新.."_qs);
        emit log->doubleClicked(log->model()->index(1, 0));
        QCOMPARE(f.desktop.texts(), QStringList{u"[9:5:3]当前为最新版本.."_qs});
    }

    void theLogMovesOldLinesOutAndSaysHowMany() {
        RecordingDesktop desktop;
        ActivityLog log(desktop, nullptr, 50); // at most 50 lines: 5 are moved out at a time
        QAbstractItemModelTester tester(log.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 56; ++i)
            log.append(QString::number(i));
        QCOMPARE(log.count(), 47);
        QCOMPARE(log.line(0), u"较早的10行日志已移出"_qs);
        QCOMPARE(log.line(1), u"10"_qs);
        QTRY_COMPARE(log.currentRow(), 46);
    }

    void tabsAndSliders() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(1, {u"B1"_qs});
        f.showTab(1);
        QCOMPARE(f.window->CurrentTab(), 1);
        QCOMPARE(f.window->statusText(2), u"资源②"_qs);
        f.select(1, 0);
        f.window->currentTab()->copySelected();
        QCOMPARE(f.desktop.clipboard, u"B1"_qs);

        f.control<QSlider>("Slider1", 0)->setValue(37);
        QCOMPARE(f.control<QLabel>("Label3", 0)->text(), u"获取第37页："_qs);
        QCOMPARE(f.window->statusText(2), u"准备获取第37页"_qs);
        QCOMPARE(f.tab(0).pageNumber(), 1);
        f.control<QSlider>("Slider3", 2)->setValue(12);
        QCOMPARE(f.control<QLabel>("Label16", 2)->text(), u"获取第1页："_qs);
        QCOMPARE(f.window->statusText(2), u"准备获取第37页"_qs);
    }

    void selectionBar() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(0, {u"A"_qs, u"B"_qs, u"C"_qs, u"D"_qs, u"E"_qs, u"F"_qs, u"G"_qs});
        GiftListModel &list = f.list(0);
        list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole);
        QVERIFY(f.control("mee")->isVisible());
        QCOMPARE(f.control<QLabel>("Label4")->text(), u"当前已选择：1个礼包"_qs);
        QCOMPARE(f.window->statusText(2), u"当前已选择：1个礼包"_qs);
        list.setData(list.index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
        QVERIFY(!f.control("mee")->isVisible());
        QCOMPARE(f.window->statusText(2), u"已取消全部礼包"_qs);

        list.setData(list.index(2, 0), Qt::Checked, Qt::CheckStateRole);
        list.setData(list.index(5, 0), Qt::Checked, Qt::CheckStateRole);
        auto options = f.control("mee")->findChildren<QRadioButton *>(u"Option3"_qs);
        QCOMPARE(options.size(), 2);
        options[0]->click();
        QCOMPARE(list.CheckedCount(), 7);
        QCOMPARE(f.control<QLabel>("Label4")->text(), u"当前已选择：7个礼包"_qs);
        QCOMPARE(f.window->statusText(2), u"当前已选择：7个礼包"_qs);
        QVERIFY(f.control("mee")->isVisible() && options[0]->isChecked());

        // Hiding a ticked row leaves the count text alone.
        f.select(0, 2);
        QKeyEvent f6(QEvent::KeyPress, Qt::Key_F6, Qt::NoModifier);
        QApplication::sendEvent(f.view(0), &f6);
        QCOMPARE(list.rowCount(), 6);
        QCOMPARE(f.control<QLabel>("Label4")->text(), u"当前已选择：7个礼包"_qs);
        QCOMPARE(f.window->statusText(2), u"礼包已隐藏"_qs);

        options[1]->click();
        QCOMPARE(list.CheckedCount(), 0);
        QVERIFY(!options[1]->isChecked());
        QVERIFY(!f.control("mee")->isVisible());
        QCOMPARE(f.window->statusText(2), u"礼包已隐藏"_qs);

        // The bar counts the tab it is shown on.
        f.fill(2, {u"T1"_qs, u"T2"_qs});
        f.showTab(2);
        for (const int row : {0, 1})
            f.list(2).setData(f.list(2).index(row, 0), Qt::Checked, Qt::CheckStateRole);
        f.showTab(0);
        QVERIFY(!f.control("mee")->isVisible());
        f.showTab(2);
        QVERIFY(f.control("mee")->isVisible());
        QCOMPARE(f.control<QLabel>("Label4")->text(), u"当前已选择：2个礼包"_qs);
        QCOMPARE(f.window->statusText(2), u"资源③"_qs);
    }

    void hidingRows() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(0, {u"A"_qs, u"B"_qs, u"C"_qs, u"D"_qs, u""_qs});
        f.select(0, 2);
        QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
        QApplication::sendEvent(f.view(0), &f5);
        QCOMPARE(f.list(0).rowCount(), 5);
        f.window->currentTab()->hideSelectedRow();
        QStringList rows;
        for (const GiftEntry &entry : f.list(0).entries())
            rows.append(entry.number + entry.code);
        QCOMPARE(rows, (QStringList{u"1A"_qs, u"2B"_qs, u"3D"_qs, u"4"_qs}));
        f.select(0, 3);
        f.window->currentTab()->hideSelectedRow();
        QCOMPARE(f.list(0).rowCount(), 4);
        QCOMPARE(f.desktop.texts(), QStringList{u"请获取礼包后再进行隐藏"_qs});
    }

    void copyAndOpen() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(0, {u""_qs, u"gv12"_qs, u"gv13"_qs, u"gv14"_qs}, {{}, u"×"_qs, u"√"_qs, {}});
        f.window->currentTab()->copySelected(); // nothing selected
        f.window->currentTab()->openSelected();
        f.select(0, 0);
        f.window->currentTab()->copySelected();
        f.select(0, 1);
        f.window->currentTab()->openSelected();
        QCOMPARE(f.desktop.texts(), (QStringList{u"请先获取礼包"_qs, u"请先获取礼包"_qs, u"请先获取礼包"_qs,
                                                 u"该礼包码已失效或已被查封!"_qs}));
        QVERIFY(f.desktop.opened.isEmpty());
        f.window->currentTab()->copySelected();
        QCOMPARE(f.desktop.clipboard, u"gv12"_qs);
        QCOMPARE(f.window->statusText(2), u"礼包码已复制.."_qs);
        f.select(0, 2);
        f.window->currentTab()->openSelected();
        f.select(0, 3);
        f.window->currentTab()->openSelected();
        const QString base = f.sites->address(Site::CloudDisk);
        QCOMPARE(f.desktop.opened, (QList<QUrl>{QUrl(base + u"/lb/gv13"), QUrl(base + u"/lb/gv14")}));
        f.desktop.openFails = true; // no browser took it
        f.window->currentTab()->openSelected();
        QCOMPARE(f.desktop.messages.last().text, u"无法打开礼包页面"_qs);
        QCOMPARE(f.desktop.messages.last().icon, Desktop::Icon::Warning);
    }

    void keyboard_data() {
        QTest::addColumn<QString>("start"); // tab:control[=text typed into it]
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("focusAfter");
        QTest::addColumn<QString>("effect");
        const QString notice = u"box:本程序仅做采集整理服务，内容均为网友提供，\r\n\r\n"
                               u"如有任何问题与Corvane及开发者无关,请勿将程序用于非法用途"_qs;
        const QList<int> none;
        QTest::newRow("F10 reaches the menu bar")
            << u"0:Text1"_qs << none << u"F10"_qs << u"menubar"_qs << u"menu:dl115"_qs;
        QTest::newRow("arrows move along it")
            << u"0:Text1"_qs << none << u"F10 Right Right Right Left"_qs << u"menubar"_qs << u"menu:jsjl"_qs;
        QTest::newRow("Enter runs the item, the keyboard goes back")
            << u"0:ListView1"_qs << none << u"F10 Right Right Right Right Return"_qs << u"ListView1"_qs
            << notice;
        QTest::newRow("Esc goes back")
            << u"0:Text1"_qs << none << u"F10 Right Esc"_qs << u"Text1"_qs << u"none"_qs;
        QTest::newRow("Tab passes over 开始获取 under the list")
            << u"1:SSTab1Tabs"_qs << none << u"Tab"_qs << u"ListView1"_qs << u"none"_qs;
        QTest::newRow("Enter in the keyword box searches")
            << u"0:Text1=礼包"_qs << none << u"Return"_qs << u"Text1"_qs
            << u"status:正在进行搜索礼包相关资源.."_qs;
        QTest::newRow("as the button does")
            << u"1:Text2=x"_qs << none << u"Enter"_qs << u"Text2"_qs << u"box:请输入最少两个字符"_qs;
        QTest::newRow("not while a harvest locks the button")
            << u"0:Text1=礼包"_qs << none << u"lock Return"_qs << u"Text1"_qs << u"none"_qs;
        QTest::newRow("Ctrl+C copies the codes of the selected rows")
            << u"0:ListView1"_qs << QList<int>{3, 0, 1} << u"Ctrl+C"_qs << u"ListView1"_qs
            << u"clipboard:gv1\ngv3|礼包码已复制.."_qs;
        QTest::newRow("none with a code") << u"0:ListView1"_qs << QList<int>{0} << u"Ctrl+C"_qs
                                          << u"ListView1"_qs << u"box:请先获取礼包"_qs;
    }
    void keyboard() {
        QFETCH(QString, start);
        QFETCH(QList<int>, selected);
        QFETCH(QString, keys);
        QFETCH(QString, focusAfter);
        QFETCH(QString, effect);
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        const int tab = start.section(u':', 0, 0).toInt();
        f.showTab(tab);
        f.fill(tab, {QString(), u"gv1"_qs, u"gv2"_qs, u"gv3"_qs});
        for (const int row : selected)
            f.view(tab)->selectionModel()->select(f.list(tab).index(row, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QString name = start.section(u':', 1).section(u'=', 0, 0);
        QWidget *widget = f.control(qPrintable(name), name.startsWith(u"SSTab1") ? -1 : tab);
        if (auto *box = qobject_cast<QLineEdit *>(widget))
            box->setText(start.section(u'=', 1));
        widget->setFocus();
        QTRY_VERIFY(widget->hasFocus());
        const QString statusBefore = f.window->statusText(2);
        for (const QString &key : keys.split(u' ')) {
            if (key == u"lock") { // a page harvest that stays in its listing phase locks "开始搜索"
                f.sites->setFault(QStringLiteral("^/libao/index_"), sandbox::Fault::Hang);
                f.click("Command8");
                continue;
            }
            const QKeyCombination pressed = QKeySequence::fromString(key)[0];
            QTest::keyClick(QApplication::focusWidget(), pressed.key(), pressed.keyboardModifiers());
        }
        QCOMPARE(QApplication::focusWidget()->objectName(), focusAfter);
        QString seen = u"none"_qs;
        if (!f.desktop.messages.isEmpty())
            seen = u"box:" + f.desktop.messages.last().text;
        else if (!f.desktop.clipboard.isEmpty())
            seen = u"clipboard:" + f.desktop.clipboard + u"|" + f.window->statusText(2);
        else if (QAction *active = f.window->menuBar()->activeAction())
            seen = u"menu:" + active->objectName();
        else if (f.window->statusText(2) != statusBefore && !keys.startsWith(u"lock"))
            seen = u"status:" + f.window->statusText(2);
        QCOMPARE(seen, effect);
    }

    void aSignInBrowserThatCannotLoadIsSaidAndNothingElseStops() {
        QTemporaryDir dir;
        Fixture f;
        f.signInPlugin = dir.filePath(u"missing/giftvane-signin"_qs);
        QVERIFY(f.open());
        f.window->findChild<QAction *>(u"dl115"_qs)->trigger();
        f.showTab(2);
        f.click("Command5");
        QCOMPARE(f.desktop.messages.size(), 3); // the request to scan, then the same box twice
        const RecordingDesktop::Message box = f.desktop.messages[1];
        QCOMPARE(box.icon, Desktop::Icon::Warning);
        QCOMPARE(box.title, u"Corvane软件"_qs);
        QVERIFY(box.text.startsWith(u"无法打开登录窗口：") && box.text.contains(f.signInPlugin));
        QCOMPARE(f.desktop.messages[2].text, box.text);
        f.click("Command18"); // the rest of the window goes on
        QVERIFY(f.waitIdle(2));
        QCOMPARE(f.list(2).rowCount(), 20);
    }

    void popupMenuWaitsForStartup() {
        Fixture f;
        QVERIFY(f.open(false));
        f.window->showPopupMenu(QPoint(10, 10));
        QVERIFY(!f.window->popupMenu()->isVisible());
        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.window->start();
        QVERIFY(done.wait(scaled(5000)));
        f.window->showPopupMenu(QPoint(10, 10));
        QVERIFY(f.window->popupMenu()->isVisible());
        f.window->popupMenu()->hide();
    }

    void exportToFile() {
        Fixture f;
        QVERIFY(f.open());
        f.click("Command4");
        QCOMPARE(f.desktop.messages.last().title, u"Corvane软件"_qs);
        QCOMPARE(f.desktop.messages.last().text, u"没有可导出的礼包码"_qs);

        f.fill(0, {u"A"_qs, u"B"_qs, u"C码"_qs});
        f.desktop.messages.clear();
        f.click("Command4"); // cancelled: nothing written, nothing shown
        QCOMPARE(f.desktop.dialogs, QStringList{u"请选择要导出的路径|文本文件 (*.txt)|append|礼包码.txt"_qs});
        QVERIFY(f.desktop.messages.isEmpty());

        QTemporaryDir dir;
        f.desktop.savePath = dir.filePath(u"codes.txt"_qs);
        f.click("Command4");
        f.click("Command4");
        QFile file(f.desktop.savePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("C\xC2\xEB\r\nB\r\nA\r\n\r\nC\xC2\xEB\r\nB\r\nA\r\n\r\n"));
        QCOMPARE(f.desktop.texts(), (QStringList{u"成功导出礼包数据"_qs, u"成功导出礼包数据"_qs}));
        QCOMPARE(f.desktop.messages.last().title, u"Corvane系列软件"_qs);
        f.desktop.savePath = dir.filePath(u"typed"_qs); // a name typed without a suffix
        f.click("Command4");
        QVERIFY(QFile::exists(dir.filePath(u"typed.txt"_qs)) && !QFile::exists(f.desktop.savePath));

        f.desktop.messages.clear();
        f.desktop.savePath = dir.filePath(u"missing/dir/codes.txt"_qs);
        f.click("Command4");
        QCOMPARE(f.desktop.messages.size(), 1);
        QCOMPARE(f.desktop.messages[0].icon, Desktop::Icon::Warning);
        QVERIFY(f.desktop.messages[0].text.startsWith(u"导出失败："));
        QVERIFY(f.desktop.messages[0].text.size() > 5);

        // The second tab's button exports the second tab's list.
        f.fill(1, {u"Z"_qs});
        f.showTab(1);
        f.desktop.savePath = dir.filePath(u"second.txt"_qs);
        f.click("Command15");
        QFile second(f.desktop.savePath);
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("Z\r\n\r\n"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
