#include "app/ledgerwindow.h"
#include "ledger/ledger.h"
#include "ledger/ledgermodel.h"
#include "recordingdesktop.h"
#include "warnings.h"
#include "web/clouddisk.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct OpenLedger {
    QTemporaryDir dir;
    std::unique_ptr<Ledger> ledger = std::make_unique<Ledger>(dir.filePath(u"ledger.sqlite"_qs));
    RecordingDesktop desktop;

    // One code per size, named after its place in the list.
    void record(const QStringList &sizes, const QString &title = u"t"_qs) {
        QList<SeenCode> rows;
        for (int i = 0; i < sizes.size(); ++i)
            rows.append(
                {u"C"_qs + QString::number(i), title, sizes[i], u"listing"_qs, u"资源①"_qs, u"1"_qs, {}, {}});
        ledger->recordHarvest(rows);
    }
    // A full count of the codes where the condition holds, in plain SQL.
    int count(const QString &where) const {
        return run(u"SELECT count(*) FROM codes WHERE " + where).value(0, u"-1"_qs).toInt();
    }
    // Runs a statement as another program would: the first column of its rows, or the error.
    QStringList run(const QString &sql, const QVariantList &values = {}) const {
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"run"_qs);
            db.setDatabaseName(ledger->path());
            db.open();
            QSqlQuery query(db);
            query.prepare(sql);
            for (const QVariant &value : values)
                query.addBindValue(value);
            if (!query.exec())
                out.append(u"failed: " + query.lastError().text());
            while (query.next())
                out.append(query.value(0).toString());
        }
        QSqlDatabase::removeDatabase(u"run"_qs);
        return out;
    }
};

SeenCode seen(const QString &code, const QString &title, const QString &mark = {}) {
    return {code, title, u"1 GB"_qs, u"listing"_qs, u"资源①"_qs, u"1"_qs, mark, {}};
}

QStringList column(const LedgerModel &model, int column) {
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out.append(model.data(model.index(row, column), Qt::DisplayRole).toString());
    return out;
}

} // namespace

// The ledger window's order, search, place, columns and keys.
class TestLedgerView final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void sizesSortByValue_data() {
        QTest::addColumn<QStringList>("sizes");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("units, any case, unknown first")
            << QStringList{u"1.5 GB"_qs, u"900 MB"_qs, u"2 TB"_qs, u"512kb"_qs, u" 2G"_qs, u"未知"_qs}
            << Qt::AscendingOrder
            << QStringList{u"未知"_qs, u"512kb"_qs, u"900 MB"_qs, u"1.5 GB"_qs, u" 2G"_qs, u"2 TB"_qs};
        QTest::newRow("numbers alone") << QStringList{u"12.2"_qs, u"4.9"_qs, u"100"_qs} << Qt::AscendingOrder
                                       << QStringList{u"4.9"_qs, u"12.2"_qs, u"100"_qs};
        QTest::newRow("down") << QStringList{u"4.9 GB"_qs, u"12.2 GB"_qs, u"9 GB"_qs} << Qt::DescendingOrder
                              << QStringList{u"12.2 GB"_qs, u"9 GB"_qs, u"4.9 GB"_qs};
    }
    void sizesSortByValue() {
        QFETCH(QStringList, sizes);
        QFETCH(Qt::SortOrder, order);
        QFETCH(QStringList, sorted);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.record(sizes);
        LedgerModel model(*f.ledger);
        model.sort(LedgerModel::SizeColumn, order);
        QCOMPARE(column(model, LedgerModel::SizeColumn), sorted);
    }

    void searchAndGivenCodesNarrowTheTable_data() {
        QTest::addColumn<QStringList>("given"); // the codes the window asks for; none: all
        QTest::addColumn<QString>("text");      // typed into the search box
        QTest::addColumn<QStringList>("codes");
        const QStringList all;
        QTest::newRow("成功 finds 成功接收 and a title")
            << all << u"成功"_qs << QStringList{u"C0"_qs, u"T"_qs};
        QTest::newRow("vip, any case") << all << u"vip"_qs << QStringList{u"C1"_qs};
        QTest::newRow("nothing") << all << u"审核中"_qs << QStringList{};
        QTest::newRow("no answer") << all << u"无应答"_qs << QStringList{u"C3"_qs};
        QTest::newRow("given codes, exactly as recorded")
            << QStringList{u"C1"_qs, u"c2"_qs, u"C"_qs, u"UNKNOWN"_qs} << QString() << QStringList{u"C1"_qs};
        QTest::newRow("quotes and brackets are codes like any")
            << QStringList{u"Q\"]x"_qs, u"C0"_qs} << QString() << QStringList{u"C0"_qs, u"Q\"]x"_qs};
        QTest::newRow("the search narrows them")
            << QStringList{u"C0"_qs, u"C2"_qs, u"Q\"]x"_qs} << u"成功"_qs << QStringList{u"C0"_qs};
        QTest::newRow("none given, no search: every code")
            << all << QString() << QStringList{u"C0"_qs, u"C1"_qs, u"C2"_qs, u"C3"_qs, u"Q\"]x"_qs, u"T"_qs};
    }
    void searchAndGivenCodesNarrowTheTable() {
        QFETCH(QStringList, given);
        QFETCH(QString, text);
        QFETCH(QStringList, codes);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.record({u"1 GB"_qs, u"1 GB"_qs, u"1 GB"_qs});
        f.ledger->recordHarvest({{u"T"_qs, u"成功之路"_qs, {}, u"listing"_qs, u"资源①"_qs, u"1"_qs, {}, {}},
                                 {u"Q\"]x"_qs, u"t"_qs, {}, u"listing"_qs, u"资源①"_qs, u"1"_qs, {}, {}}});
        f.ledger->recordReceive(u"C0"_qs, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        f.ledger->recordReceive(u"C1"_qs, {}, ReceiveKind::MembersOnly, {});
        f.ledger->recordReceive(u"C2"_qs, {}, ReceiveKind::Failed, {});
        f.ledger->recordReceive(u"C3"_qs, {}, ReceiveKind::NoAnswer, {});
        LedgerModel model(*f.ledger);
        model.sort(LedgerModel::CodeColumn, Qt::AscendingOrder);
        model.setFilter(text);
        model.setCodes(given);
        QCOMPARE(column(model, LedgerModel::CodeColumn), codes);
        QCOMPARE(model.shownRows().size(), codes.size()); // what export writes
    }

    // Writes as letters: "A√" seen valid, "A×" seen void, "A" seen without a mark, "+A"
    // received, "-A" failed, "*A" claimed.
    void countsFollowEveryWrite_data() {
        QTest::addColumn<QString>("writes");
        QTest::newRow("harvests") << u"A√ B× C A× C√"_qs;
        QTest::newRow("receives") << u"A√ B× +A +B -A +C -D"_qs;
        QTest::newRow("void after received, valid again") << u"A√ +A A× B× B√ B×"_qs;
        QTest::newRow("seen again, unchanged") << u"A× A× A B B"_qs;
        QTest::newRow("claims among them") << u"*A A× *B +B *C -C C×"_qs;
    }
    void countsFollowEveryWrite() {
        QFETCH(QString, writes);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        Ledger *ledger = f.ledger.get();
        for (const QString &write : writes.split(u' ')) {
            if (write.startsWith(u'*'))
                ledger->claim(write.mid(1), {}, true);
            else if (write.startsWith(u'+') || write.startsWith(u'-'))
                ledger->recordReceive(write.mid(1), {},
                                      write.startsWith(u'+') ? ReceiveKind::Received : ReceiveKind::Failed,
                                      {});
            else
                ledger->recordHarvest({seen(write.left(1), u"t"_qs, write.mid(1))});
        }
        const Ledger::Counts kept = ledger->counts();
        const int received = f.count(u"received_at IS NOT NULL"_qs);
        const int voided = f.count(u"received_at IS NULL AND mark = '×'"_qs);
        const int all = f.count(u"1"_qs);
        QCOMPARE((QList<int>{kept.received, kept.voided, kept.pending}),
                 (QList<int>{received, voided, all - received - voided}));
        // A view's counts are counted among its rows; here every code.
        const Ledger::Counts viewed = ledger->counts({{}, {u"A"_qs, u"B"_qs, u"C"_qs, u"D"_qs}});
        QCOMPARE((QList<int>{viewed.received, viewed.voided, viewed.pending}),
                 (QList<int>{received, voided, all - received - voided}));
        QVERIFY(
            ledger->counts({{}, {u"A"_qs, u"B"_qs, u"C"_qs, u"D"_qs}}, all - 1).more); // counted no further
    }

    // Three characters or more go through the index; fewer, or an outcome's name, do not.
    void indexedSearchFindsWhatThePlainSearchFinds_data() {
        QTest::addColumn<QString>("text");
        for (const QString &text :
             {u"gift"_qs,  u"GIFT_1"_qs, u"t_1"_qs,     u"%_%"_qs,       u"100%"_qs, u"q\" \\"_qs, u"'o'"_qs,
              u"\"q\""_qs, u"礼包码"_qs, u"礼包"_qs,    u"ＡＢＣ"_qs,    u"ｂｃ"_qs, u"x😀y"_qs,    u"😀y"_qs,
              u"ß"_qs,     u"失败"_qs,   u"\" OR 1"_qs, u"NEAR(a b)"_qs, u"a*"_qs,   u"  "_qs})
            QTest::newRow(qPrintable(text)) << text;
    }
    void indexedSearchFindsWhatThePlainSearchFinds() {
        QFETCH(QString, text);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        Ledger *ledger = f.ledger.get();
        const QStringList titles{u"Gift_1 礼包码"_qs, u"gift 100%_% off"_qs, u"'o' \"q\" \\"_qs,
                                 u"ＡＢＣ礼包"_qs,    u"x😀y Straße"_qs,      u"\" OR 1 NEAR(a b) a*"_qs,
                                 u"GIFT_1  two"_qs,   u"nothing"_qs};
        QStringList expected; // newest first, as the ledger lists them
        for (int i = 0; i < titles.size(); ++i) {
            const QString code = u"Code" + QString::number(i);
            ledger->recordHarvest({seen(code, titles[i])});
            if (code.toCaseFolded().contains(text.toCaseFolded()) ||
                titles[i].toCaseFolded().contains(text.toCaseFolded()))
                expected.prepend(code);
        }
        ledger->recordReceive(u"Code7"_qs, {}, ReceiveKind::Failed, {});
        if (receiveKindText(ReceiveKind::Failed).contains(text))
            expected.prepend(u"Code7"_qs);
        QStringList found;
        for (const LedgerRow &row : ledger->rows({text}))
            found.append(row.code);
        QCOMPARE(found, expected);
    }

    // Rows that another program wrote wait for the index: a search finds what the plain search
    // finds while they wait and once they are indexed, and the index is then whole.
    void searchFindsQueuedRowsAsThePlainSearchDoes_data() {
        QTest::addColumn<QStringList>("writes");
        const QString add =
            u"INSERT INTO codes(code, title, code_folded, title_folded, first_seen, last_seen)"
            u" VALUES('%1', '%2', lower('%1'), '%2', 1, 1)"_qs;
        const QString retitle = u"UPDATE codes SET title = '%2', title_folded = '%2' WHERE code = '%1'"_qs;
        const QString drop = u"DELETE FROM codes WHERE rowid = (SELECT max(rowid) FROM codes)"_qs;
        QTest::newRow("added") << QStringList{add.arg(u"NEW"_qs, u"fresh gift"_qs)};
        QTest::newRow("retitled") << QStringList{retitle.arg(u"OLD1"_qs, u"fresh gift"_qs)};
        QTest::newRow("retitled twice")
            << QStringList{retitle.arg(u"OLD1"_qs, u"fresh"_qs), retitle.arg(u"OLD1"_qs, u"other gift"_qs)};
        QTest::newRow("added, then retitled")
            << QStringList{add.arg(u"NEW"_qs, u"fresh"_qs), retitle.arg(u"NEW"_qs, u"old gift 9"_qs)};
        QTest::newRow("deleted") << QStringList{drop};
        QTest::newRow("retitled, then deleted") << QStringList{retitle.arg(u"OLD3"_qs, u"fresh"_qs), drop};
        QTest::newRow("deleted, its rowid taken again")
            << QStringList{drop, add.arg(u"NEW"_qs, u"old gift 3"_qs)};
        // "indexed": the ledger's own indexing catches up in between.
        QTest::newRow("deleted and indexed, its rowid taken again")
            << QStringList{drop, u"indexed"_qs, add.arg(u"NEW"_qs, u"fresh"_qs)};
    }
    void searchFindsQueuedRowsAsThePlainSearchDoes() {
        QFETCH(QStringList, writes);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        QList<SeenCode> rows;
        for (int i = 0; i < 4; ++i)
            rows.append(seen(u"OLD" + QString::number(i), u"old gift " + QString::number(i)));
        f.ledger->recordHarvest(rows);
        QTRY_COMPARE(f.ledger->unindexed(), 0);
        for (const QString &write : writes) {
            if (write == u"indexed") {
                f.ledger->recordHarvest({seen(u"OLD0"_qs, u"old gift 0"_qs)});
                QTRY_COMPARE(f.ledger->unindexed(), 0);
            } else {
                QCOMPARE(f.run(write), QStringList());
            }
        }
        QVERIFY(f.ledger->unindexed() > 0);
        const auto searchesAgree = [&] {
            for (const QString &text :
                 {u"old gift"_qs, u"gift 3"_qs, u"fresh"_qs, u"other gift"_qs, u"new"_qs}) {
                QStringList found;
                for (const LedgerRow &row : f.ledger->rows({text}))
                    found.append(row.code);
                QCOMPARE(found,
                         f.run(u"SELECT code FROM codes WHERE instr(code_folded, ?) > 0"
                               u" OR instr(title_folded, ?) > 0 ORDER BY last_seen DESC, rowid DESC"_qs,
                               {text, text}));
            }
        };
        searchesAgree();
        // A write of the ledger's own sets the indexing going.
        f.ledger->recordHarvest({seen(u"LAST"_qs, u"t"_qs)});
        QTRY_COMPARE(f.ledger->unindexed(), 0);
        searchesAgree();
        QCOMPARE(f.run(u"INSERT INTO codes_search(codes_search, rank) VALUES('integrity-check', 1)"_qs),
                 QStringList());
    }

    // What the model shows after following some records is what reading afresh shows.
    void modelFollowsRecordsInPlace_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<int>("codes"); // more than a batch: only the first rows are read
        QTest::newRow("last seen, all read") << int(LedgerModel::LastSeenColumn) << Qt::DescendingOrder << 5;
        QTest::newRow("last seen, partly read")
            << int(LedgerModel::LastSeenColumn) << Qt::AscendingOrder << 600;
        QTest::newRow("outcome, partly read")
            << int(LedgerModel::OutcomeColumn) << Qt::DescendingOrder << 600;
        QTest::newRow("title, all read") << int(LedgerModel::TitleColumn) << Qt::AscendingOrder << 5;
        QTest::newRow("size, partly read") << int(LedgerModel::SizeColumn) << Qt::AscendingOrder << 600;
    }
    void modelFollowsRecordsInPlace() {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        QFETCH(int, codes);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        Ledger *ledger = f.ledger.get();
        QList<SeenCode> rows;
        for (int i = 0; i < codes; ++i)
            rows.append(seen(u"M" + QString::number(i), u"t" + QString::number(i % 7)));
        ledger->recordHarvest(rows);
        LedgerModel model(*ledger);
        model.sort(column, order);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy followed(&model, &LedgerModel::updated);
        ledger->recordReceive(u"M1"_qs, {}, ReceiveKind::Received, {});
        ledger->recordReceive(u"M4"_qs, {}, ReceiveKind::Failed, {});
        ledger->recordHarvest({seen(u"NEW"_qs, u"a"_qs), seen(u"M3"_qs, u"z"_qs), seen(u"M2"_qs, u"t2"_qs)});
        QTRY_COMPARE(followed.size(), 1);
        QList<QStringList> shown;
        for (int row = 0; row < model.rowCount(); ++row)
            shown.append(
                {model.codeAt(row),
                 model.data(model.index(row, LedgerModel::OutcomeColumn), Qt::DisplayRole).toString()});
        QList<QStringList> afresh;
        for (const LedgerRow &row : ledger->rows(model.view(), 0, model.rowCount()))
            afresh.append({row.code, LedgerModel::cellText(row, LedgerModel::OutcomeColumn)});
        QCOMPARE(shown, afresh);
    }

    void opensCentredOverItsParent_data() {
        QTest::addColumn<QPoint>("parentAt");
        QTest::addColumn<bool>("centred");
        QTest::newRow("parent in the middle") << QPoint(151, 80) << true;
        QTest::newRow("parent past the left edge") << QPoint(-700, 80) << false;
    }
    void opensCentredOverItsParent() {
        QFETCH(QPoint, parentAt);
        QFETCH(bool, centred);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        QWidget parent;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        parent.setGeometry(QRect(screen.topLeft() + parentAt, QSize(978, 590)));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        LedgerWindow window(*f.ledger, f.desktop, {}, &parent);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint offset = window.geometry().center() - parent.geometry().center();
        QCOMPARE(offset.manhattanLength() <= 2, centred);
        // Wholly on the screen either way, as far as it fits.
        QVERIFY2(window.frameGeometry().left() >= screen.left(), qPrintable(QString::number(window.x())));
        QVERIFY(window.frameGeometry().top() >= screen.top());
    }

    void everyColumnIsInView() {
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.ledger->setClock([] { return QDateTime(QDate(2024, 12, 28), QTime(23, 58, 59)); });
        f.ledger->recordHarvest({{u"ABCDEFGHIJ12"_qs,
                                  u"A title long enough to be cut short in its column, at least"_qs,
                                  u"1023.9 MB"_qs,
                                  u"资源③"_qs,
                                  u"关键字"_qs,
                                  u"√"_qs,
                                  u"listing"_qs,
                                  {}}});
        f.ledger->recordReceive(u"ABCDEFGHIJ12"_qs, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        LedgerWindow window(*f.ledger, f.desktop, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *view = window.findChild<QTableView *>(u"codes"_qs);
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0); // nothing to scroll to
        QHeaderView *header = view->horizontalHeader();
        for (int c = 0; c < LedgerModel::ColumnCount; ++c) {
            if (c == LedgerModel::TitleColumn)
                continue; // the title takes the room that is left, and may be cut
            const QString name = QString::number(c);
            QVERIFY2(view->columnWidth(c) >= static_cast<QAbstractItemView *>(view)->sizeHintForColumn(c),
                     qPrintable(name));
            QVERIFY2(view->columnWidth(c) >= header->sectionSizeHint(c), qPrintable(name));
        }
        const int last = LedgerModel::ColumnCount - 1;
        QVERIFY(header->sectionViewportPosition(last) + header->sectionSize(last) <=
                view->viewport()->width());
        QCOMPARE(QAccessible::queryAccessibleInterface(view)->text(QAccessible::Name), u"接收记录"_qs);
    }

    void aLedgerThatTurnsOffSaysSoInsteadOfShowingNothing() {
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.record({u"1 GB"_qs});
        LedgerWindow window(*f.ledger, f.desktop, {});
        window.show();
        QCOMPARE(window.countsText(), u"已接收：0  已失效：0  待接收：1"_qs);
        { // another program makes every write fail: the ledger gives up on the file
            QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"other"_qs);
            other.setDatabaseName(f.ledger->path());
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(u"CREATE TRIGGER boom BEFORE INSERT ON codes"
                                          u" BEGIN SELECT RAISE(ABORT, 'boom'); END"_qs));
        }
        QSqlDatabase::removeDatabase(u"other"_qs);
        f.record({u"1 GB"_qs, u"2 GB"_qs});
        QVERIFY(f.ledger->isOff());
        auto *off = window.findChild<QLabel *>(u"off"_qs);
        QVERIFY(off->isVisible() && !window.findChild<QTableView *>(u"codes"_qs)->isVisible());
        QCOMPARE(off->text(), QString(u"接收记录不可用：" + f.ledger->whyOff()));
        QVERIFY(off->text().contains(QDir::toNativeSeparators(f.ledger->path())));
        QVERIFY(!window.findChild<QLabel *>(u"counts"_qs)->isVisible());

        f.desktop.savePath = f.dir.filePath(u"codes.csv"_qs);
        window.exportCsv();
        QVERIFY(f.desktop.dialogs.isEmpty() && !QFile::exists(f.desktop.savePath));
        QCOMPARE(f.desktop.texts(), QStringList{off->text()});
        QCOMPARE(f.desktop.messages[0].icon, Desktop::Icon::Warning);
    }

    void selectedRowsAreActedOn_data() {
        QTest::addColumn<QKeySequence>("close");
        QTest::newRow("Esc") << QKeySequence(Qt::Key_Escape);
        QTest::newRow("Ctrl+W") << QKeySequence(Qt::CTRL | Qt::Key_W);
    }
    void selectedRowsAreActedOn() {
        QFETCH(QKeySequence, close);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.record({u"1 GB"_qs, u"2 GB"_qs});
        f.ledger->recordHarvest({{u"C#1"_qs, u"t"_qs, {}, u"listing"_qs, u"资源①"_qs, u"1"_qs, {}, {}}});
        LedgerWindow window(*f.ledger, f.desktop, u"http://disk.test"_qs);
        QSignalSpy receive(&window, &LedgerWindow::receiveRequested);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *view = window.findChild<QTableView *>(u"codes"_qs);
        view->sortByColumn(LedgerModel::CodeColumn, Qt::AscendingOrder); // C#1 C0 C1
        QVERIFY(!window.findChild<QPushButton *>(u"receive"_qs)->isEnabled());
        view->setFocus();
        view->selectionModel()->setCurrentIndex(view->model()->index(0, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(view->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(f.desktop.clipboard, u"C#1\nC1"_qs);
        window.findChild<QPushButton *>(u"open"_qs)->click();
        QCOMPARE(f.desktop.opened,
                 QList<QUrl>{QUrl(clouddisk::giftPageAddress(u"http://disk.test"_qs, u"C#1"_qs),
                                  QUrl::TolerantMode)});
        window.findChild<QPushButton *>(u"receive"_qs)->click();
        QCOMPARE(receive.size(), 1);
        QCOMPARE(receive.first().first().toStringList(), (QStringList{u"C#1"_qs, u"C1"_qs}));
        QTest::keySequence(&window, close);
        QVERIFY(!window.isVisible());
    }

    void keysLeaveTheTable_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("focus");
        QTest::newRow("Tab") << int(Qt::Key_Tab) << Qt::KeyboardModifiers() << u"copy"_qs;
        QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                   << u"search"_qs;
        QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << Qt::KeyboardModifiers(Qt::ControlModifier)
                                  << u"copy"_qs;
        QTest::newRow("Ctrl+Shift+Tab")
            << int(Qt::Key_Backtab) << (Qt::ControlModifier | Qt::ShiftModifier) << u"search"_qs;
    }
    void keysLeaveTheTable() {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, focus);
        OpenLedger f;
        QVERIFY(f.ledger->open());
        f.record({u"1 GB"_qs, u"2 GB"_qs});
        LedgerWindow window(*f.ledger, f.desktop, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *view = window.findChild<QTableView *>(u"codes"_qs);
        view->setFocus();
        view->setCurrentIndex(view->model()->index(0, 0));
        QTRY_VERIFY(view->hasFocus());
        QTest::keyClick(view, Qt::Key(key), modifiers);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QCOMPARE(view->currentIndex(), view->model()->index(0, 0)); // the table's cursor stayed
    }
};

int main(int argc, char *argv[]) {
    // On the virtual screen, one as large as the suite's display: the window fits beside its
    // parent, as it does on a user's screen.
    if (qEnvironmentVariable("QT_QPA_PLATFORM", u"offscreen"_qs) == u"offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" OFFSCREEN_SCREENS);
    QApplication app(argc, argv);
    TestLedgerView test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_ledgerview.moc"
