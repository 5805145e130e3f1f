#include "app/ledgerwindow.h"
#include "fixture.h"

#include <QAction>
#include <QFile>
#include <QMenuBar>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using sandbox::Request;
using sandbox::Site;

// The window with the gift ledger: what was received before is shown and passed over, and
// what is seen and received is remembered; a ledger that cannot be used stops nothing.
class TestRemembering final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString lastLog(const Fixture &f) const {
        return f.window->log()->line(f.window->log()->count() - 1).section(u']', 1);
    }

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void receivedCodesAreGreyedPassedOverAndRemembered() {
        const QString path = m_dir.filePath(u"ledger.sqlite"_qs);
        Fixture f;
        f.ledger = std::make_unique<Ledger>(path);
        QVERIFY(f.ledger->open());
        // Row 1 was received before, by the single receive's marker; row 2 by a batch's looser
        // "成功", which may have been a failure's text: both look received, row 2 is offered again.
        f.ledger->recordReceive(f.sites->codeFor(100101), u"昨天"_qs, ReceiveKind::Received, u"成功接收"_qs,
                                true);
        f.ledger->recordReceive(f.sites->codeFor(100102), u"昨天"_qs, ReceiveKind::Received, u"成功"_qs);
        QVERIFY(f.open());
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        const GiftListModel &list = f.list(0);
        for (int row = 0; row < 3; ++row) {
            const QModelIndex at = list.index(row, GiftListModel::TitleColumn);
            QCOMPARE(at.data(Qt::ToolTipRole).toString().contains(u"接收过"), row > 0);
            QCOMPARE(at.data(Qt::ForegroundRole).isValid(), row > 0);
        }
        // The harvest is remembered as one run's rows.
        QCOMPARE(f.ledger->counts().pending + f.ledger->counts().voided + f.ledger->counts().received, 20);

        QVERIFY(signIn(*f.web, *f.sites));
        for (int row = 0; row < 3; ++row) {
            f.list(0).setChecked(row, true);
            f.list(0).setMark(row, u"√"_qs); // the stand-in calls a received code void
        }
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(sentCodes(*f.sites), (QStringList{f.sites->codeFor(100100), f.sites->codeFor(100102)}));
        QCOMPARE(f.window->log()->linesContaining(u"[已接收过][" + list.entry(1).title + u"]").size(), 1);
        QCOMPARE(f.ledger->attempts(f.sites->codeFor(100100)).size(), 1);
        QCOMPARE(f.ledger->attempts(f.sites->codeFor(100102)).size(), 2);
    }

    void closingWithALedgerThatFailsReachesNothingGone() {
        // The window goes mid-run, and the ledger refuses the run's write: what it then says
        // must reach nothing of the window (under the sanitizers a use after free fails here).
        const QString path = m_dir.filePath(u"failing.sqlite"_qs);
        Fixture f;
        f.sites->setFault(QStringLiteral("^/lb/gv.*[5-9]$"), sandbox::Fault::Hang);
        f.ledger = std::make_unique<Ledger>(path);
        QVERIFY(f.ledger->open());
        QVERIFY(f.open());
        f.click("Command8");
        QVERIFY(runUntil([&] {
            const QList<GiftEntry> &rows = f.list(0).entries();
            return std::any_of(rows.begin(), rows.end(),
                               [](const GiftEntry &row) { return !row.mark.isEmpty(); });
        }));
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"other"_qs);
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(u"CREATE TRIGGER boom BEFORE INSERT ON codes"
                                          u" BEGIN SELECT RAISE(ABORT, 'boom'); END"_qs));
        }
        QSqlDatabase::removeDatabase(u"other"_qs);
        QSignalSpy off(f.ledger.get(), &Ledger::turnedOff);
        f.window.reset();
        QCOMPARE(off.size(), 1); // the write was tried, and failed
    }

    void aLedgerThatCannotBeUsedStopsNothing() {
        const QString path = m_dir.filePath(u"corrupt.sqlite"_qs);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
        Fixture f;
        f.ledger = std::make_unique<Ledger>(path);
        QVERIFY(f.open(false));
        QVERIFY(!f.ledger->open());
        QVERIFY(lastLog(f).startsWith(u"接收记录不可用,本次不作记录："));
        QVERIFY(lastLog(f).contains(path)); // the message names the file
        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.window->start();
        QVERIFY(done.wait(scaled(5000)));
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        QCOMPARE(f.list(0).entry(19).code, f.sites->codeFor(100119));
        f.window->findChild<QAction *>(u"jsjl"_qs)->trigger();
        QVERIFY(f.desktop.texts().last().startsWith(u"接收记录不可用："));
    }

    void pagesHarvestedWhileAnotherProgramHoldsTheLedgerAreRecordedOnceItIsFree() {
        const QString path = m_dir.filePath(u"held.sqlite"_qs);
        {
            Ledger first(path);
            QVERIFY(first.open());
        }
        QProcess holder;
        holder.start(QStringLiteral(LEDGER_WRITER), {u"lock"_qs, path});
        QVERIFY(holder.waitForReadyRead(scaled(5000)));
        Fixture f;
        f.ledger = std::make_unique<Ledger>(path);
        QVERIFY(f.open());
        QVERIFY(!f.ledger->open() && !f.ledger->isOff());
        f.window->openLedger(); // waiting is not off: the window opens, with nothing to say
        QVERIFY(f.desktop.messages.isEmpty());
        auto *ledgerWindow = f.window->findChild<LedgerWindow *>();
        QVERIFY(ledgerWindow && ledgerWindow->isVisible() && ledgerWindow->offText().isEmpty());
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        QCOMPARE(f.ledger->waiting(), 1);
        holder.closeWriteChannel(); // the other program lets go
        QVERIFY(holder.waitForFinished(scaled(5000)));
        QTRY_COMPARE_WITH_TIMEOUT(f.ledger->waiting(), 0, scaled(10000));
        QCOMPARE(f.ledger->counts().pending + f.ledger->counts().voided, 20);
        QCOMPARE(f.window->log()->linesContaining(u"接收记录"_qs), QStringList());
    }

    void theMenuOpensTheLedgerWindow() {
        Fixture f;
        f.ledger = std::make_unique<Ledger>(m_dir.filePath(u"menu.sqlite"_qs));
        QVERIFY(f.ledger->open());
        QVERIFY(f.open());
        QStringList bar;
        for (QAction *action : f.window->menuBar()->actions())
            bar.append(action->text());
        QCOMPARE(bar.mid(0, 3), (QStringList{u"登录115"_qs, u"退出登录"_qs, u"接收记录"_qs}));
        f.window->findChild<QAction *>(u"jsjl"_qs)->trigger();
        f.window->findChild<QAction *>(u"jsjl"_qs)->trigger();
        QCOMPARE(f.window->findChildren<LedgerWindow *>().size(), 1);
        QVERIFY(f.window->findChild<LedgerWindow *>()->isVisible());
    }
};

QTEST_MAIN(TestRemembering)
#include "test_remembering.moc"
