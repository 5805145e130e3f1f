#include "app/receiveflow.h"
#include "desktop/systemdesktop.h"
#include "fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolTip>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

// A named pipe that tells whether anything opened it for reading, as a renderer that takes a
// page's <img src> for a file would: a writer polling without blocking gets in only while a
// reader holds it, and lets that reader go on at once instead of hanging the window.
class PipeWatch {
public:
    explicit PipeWatch(const QString &path)
        : m_path(QFile::encodeName(path)) {
        if (mkfifo(m_path.constData(), 0600) != 0)
            qFatal("no named pipe");
        m_thread = std::thread([this] {
            while (!m_stop) {
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_opened = true;
                    ::close(fd);
                }
                usleep(2000);
            }
        });
    }
    ~PipeWatch() {
        m_stop = true;
        m_thread.join();
    }
    bool opened() const { return m_opened; }

private:
    QByteArray m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_opened{false};
    std::thread m_thread;
};

void settle(QWidget *window) {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->repaint();
}

} // namespace

// What hostile or sloppy sites serve: markup where text belongs, replies that never end.
class TestHostile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void markupFromSitesIsShownAsText() {
        QTemporaryDir dir;
        const QString pipe = dir.filePath(u"fifo"_qs);
        PipeWatch watch(pipe);
        const QString image = u"<img src=\""_qs + pipe + u"\">"_qs;
        {
            // The watch itself: rich text does open what an image names.
            QLabel control(image + u"x"_qs);
            control.setTextFormat(Qt::RichText);
            control.adjustSize();
            QVERIFY(runUntil([&] { return watch.opened(); }, 2000));
        }
        PipeWatch quiet(dir.filePath(u"fifo2"_qs));
        const QString named = u"<img src=\""_qs + dir.filePath(u"fifo2"_qs) + u"\">"_qs;
        const QString title = named + u"<big><b>已中奖请联系QQ</b></big> （1G）"_qs;

        Fixture f;
        f.sites->setHandler(Site::Share, "/index.html", [title](const Request &) {
            const QByteArray cell = "<td><a href=\"/file/1.html\">" + title.toUtf8() + "</a></td><em>1</em>";
            return Response{200, "text/html; charset=utf-8", cell + cell, {}};
        });
        f.sites->setHandler(Site::Share, "/api/find.aspx", [named](const Request &) {
            return Response{200, "text/html", "gift_code=" + named.toUtf8() + "0&x", {}};
        });
        QVERIFY(f.open());
        settle(f.window.get());
        f.showTab(1);
        f.control<QLineEdit>("Text2", 1)->setText(u"礼包"_qs);
        f.click("Command12");
        QVERIFY(f.waitIdle(1));
        settle(f.window.get());
        const QString listed = f.list(1).entry(0).title;
        QVERIFY(listed.startsWith(named + u"<big><b>已中奖"));
        QCOMPARE(f.list(1).entry(0).code, named + u"0"_qs);

        // Received: the title goes to the status bar and the log, and the log's tooltip.
        QVERIFY(signIn(*f.web, *f.sites));
        f.list(1).setAllChecked(true);
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        ActivityLog *log = f.window->log();
        int received = -1;
        for (int i = 0; i < log->count(); ++i) {
            if (log->line(i).contains(u"[成功][" + named))
                received = i;
        }
        QVERIFY(received >= 0);
        f.window->setStatusText(u"["_qs + listed + u"]礼包成功接收"_qs);
        settle(f.window.get());
        emit log->clicked(log->model()->index(received, 0));
        QToolTip::showText(log->mapToGlobal(QPoint(5, 5)), log->toolTip(), log);
        settle(f.window.get());

        // A reply in markup, in the box that shows it.
        const QString reply = u"<h1 style=\"color:red\">账号已被冻结</h1>"_qs + named;
        auto box = SystemDesktop::messageBox(f.window.get(), Desktop::Icon::None, u"Giftvane"_qs, reply);
        settle(box.get());
        QToolTip::hideText();
        QVERIFY(!quiet.opened());
    }

    void aHugeOneLineReplyIsCappedInTheBox() {
        const QString reply = QString(16 * 1024 * 1024, u'x');
        // The batch hands the box the beginning of the reply and at most 64 KiB of details.
        Fixture f;
        f.sites->setHandler(Site::CloudDisk, "/", [reply](const Request &) {
            return Response{200, "text/plain", reply.toUtf8(), {}};
        });
        QVERIFY(f.open());
        f.fill(0, {u"gv1"_qs});
        f.list(0).setAllChecked(true);
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }, 20000));
        QCOMPARE(f.desktop.messages.size(), 1);
        const RecordingDesktop::Message shown = f.desktop.messages[0];
        QCOMPARE(shown.text.size(), ReceiveFlow::kBoxTextLimit);
        QCOMPARE(shown.details.size(), ReceiveFlow::kBoxDetailsLimit);

        // The real box shows at most 64 KiB of details, whatever it is given, and opens them
        // (how long that takes is measured by bench_window).
        auto box = SystemDesktop::messageBox(nullptr, Desktop::Icon::None, u"Giftvane"_qs, shown.text, reply);
        QCOMPARE(box->detailedText().size(), SystemDesktop::kDetailsLimit);
        settle(box.get());
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::ActionRole)
                button->click(); // "Show Details..."
        }
        auto *details = box->findChild<QTextEdit *>();
        QVERIFY(details && details->isVisible());
        QCOMPARE(details->toPlainText().size(), SystemDesktop::kDetailsLimit);
    }

    void aReceiveAnsweredByAnotherHostIsNoAnswer() {
        Fixture f;
        const QByteArray elsewhere = f.sites->address(Site::Share).toUtf8() + "/taken";
        f.sites->setHandler(Site::CloudDisk, "/", [elsewhere](const Request &request) {
            return request.method == "POST" ? Response{307, "text/html", {}, {{"Location", elsewhere}}}
                                            : Response{200, "text/html", "home", {}};
        });
        f.sites->setHandler(Site::Share, "/taken", [](const Request &) {
            return Response{200, "text/html", u"成功接收"_qs.toUtf8(), {}};
        });
        QVERIFY(f.open());
        f.fill(0, {u"gv1"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(f.desktop.texts(), QStringList{u"接收失败!无法连接115网盘,请稍后再试"_qs});
        QVERIFY(f.sites->requests(Site::Share).isEmpty()); // the code never reached that host
    }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
