#include "giftlist/giftexport.h"
#include "giftlist/giftlistmodel.h"
#include "warnings.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QFont>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestGiftList final : public QObject {
    Q_OBJECT

    static QStringList numbers(const GiftListModel &list) {
        QStringList out;
        for (const GiftEntry &entry : list.entries())
            out.append(entry.number + u":" + entry.title);
        return out;
    }

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void rowsAreNumberedAndRenumbered() {
        GiftListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy appended(&list, &GiftListModel::rowAppended);
        for (const char *title : {"a", "b", "c", "d", "e"})
            list.AppendGiftRow(QString::fromLatin1(title), u"1.5"_qs, u"/k"_qs);
        QCOMPARE(appended.size(), 5);
        QCOMPARE(appended.last().first().toInt(), 4);
        QCOMPARE(list.data(list.index(4, GiftListModel::NumberColumn), Qt::DisplayRole).toString(), u"5"_qs);
        QCOMPARE(list.data(list.index(0, GiftListModel::KeyColumn), Qt::DisplayRole).toString(), u"/k"_qs);
        list.removeRowAt(2);
        QCOMPARE(numbers(list), (QStringList{u"1:a"_qs, u"2:b"_qs, u"4:d"_qs, u"5:e"_qs}));
        list.RenumberRows();
        QCOMPARE(numbers(list), (QStringList{u"1:a"_qs, u"2:b"_qs, u"3:d"_qs, u"4:e"_qs}));
        list.clear();
        QCOMPARE(list.rowCount(), 0);
        list.AppendGiftRow(u"f"_qs, {}, {});
        QCOMPARE(list.entry(0).number, u"1"_qs);
    }

    void checkBoxesAreCounted() {
        GiftListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 4; ++i)
            list.AppendGiftRow(u"t"_qs, {}, {});
        QVERIFY(list.flags(list.index(0, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(list.flags(list.index(0, 1)) & Qt::ItemIsUserCheckable));
        QSignalSpy toggled(&list, &GiftListModel::checkToggled);
        QVERIFY(list.setData(list.index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(list.setData(list.index(3, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(toggled.size(), 2);
        QCOMPARE(list.CheckedCount(), 2);
        QCOMPARE(list.data(list.index(3, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
        list.setChecked(1, false); // set by the program: no user toggle
        QCOMPARE(toggled.size(), 2);
        QCOMPARE(list.CheckedCount(), 1);
    }

    void longTextFromASiteIsShownCut_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        const QString thousand(1000, u'x');
        QTest::newRow("as long as a line may be") << thousand << thousand;
        QTest::newRow("longer") << thousand + u"yz" << thousand + u"…";
        // Never half a character: an emoji across the limit goes whole.
        QTest::newRow("pair across the limit") << QString(999, u'x') + u"😀tail" << QString(999, u'x') + u"…";
    }
    void longTextFromASiteIsShownCut() {
        QFETCH(QString, title);
        QFETCH(QString, shown);
        GiftListModel list;
        list.setCode(list.AppendGiftRow(title, title, title), title);
        for (const auto column :
             {GiftListModel::TitleColumn, GiftListModel::SizeColumn, GiftListModel::CodeColumn})
            QCOMPARE(list.index(0, column).data().toString(), shown);
        QCOMPARE(list.entry(0).code, title); // the row keeps it whole: copy and receive use it
    }

    void voidAndReceivedRowsSaySo_data() {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<bool>("received");
        QTest::addColumn<QString>("tip"); // how the tooltip starts
        QTest::addColumn<QString>("description");
        const QString voidNote = u"礼包码已失效或已被查封"_qs;
        QTest::newRow("valid") << u"√"_qs << false << QString() << QString();
        QTest::newRow("void") << u"×"_qs << false << voidNote << voidNote;
        QTest::newRow("received before") << u"√"_qs << true << u"已于"_qs << u"已接收"_qs;
        QTest::newRow("both") << u"×"_qs << true << u"已于"_qs << QString(u"已接收，" + voidNote);
    }
    void voidAndReceivedRowsSaySo() {
        QFETCH(QString, mark);
        QFETCH(bool, received);
        QFETCH(QString, tip);
        GiftListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.setCode(list.AppendGiftRow(u"t"_qs, {}, {}), u"C1"_qs);
        QSignalSpy changed(&list, &GiftListModel::dataChanged);
        list.setMark(0, mark);
        if (received)
            list.setReceivedAt(0, QDateTime::currentDateTimeUtc());
        QCOMPARE(changed.last().at(1).toModelIndex().column(), GiftListModel::ColumnCount - 1); // whole row
        const QModelIndex title = list.index(0, GiftListModel::TitleColumn);
        QCOMPARE(title.data(Qt::FontRole).value<QFont>().strikeOut(), mark == u"×");
        QCOMPARE(title.data(Qt::ForegroundRole).isValid(), received || mark == u"×");
        QCOMPARE(title.data(Qt::ToolTipRole).toString().left(tip.size()), tip);
        QTEST(title.data(Qt::AccessibleDescriptionRole).toString(), "description");
        QCOMPARE(giftexport::exportBlock(list), QByteArray("C1\r\n\r\n")); // every row, as before
    }

    void exportWritesReverseOrderInGbkAndAppends() {
        GiftListModel list;
        for (const char *code : {"A", "B", "C"})
            list.setCode(list.AppendGiftRow(u"t"_qs, {}, {}), QString::fromLatin1(code));
        QCOMPARE(giftexport::exportBlock(list), QByteArray("C\r\nB\r\nA\r\n\r\n"));

        GiftListModel unresolved;
        unresolved.AppendGiftRow(u"t"_qs, {}, {});
        unresolved.setCode(unresolved.AppendGiftRow(u"t"_qs, {}, {}), u"码1"_qs);
        QCOMPARE(giftexport::exportBlock(unresolved), QByteArray("\xC2\xEB"
                                                                 "1\r\n\r\n\r\n"));

        QTemporaryDir dir;
        const QString path = dir.filePath(u"codes.txt"_qs);
        QCOMPARE(giftexport::appendToFile(path, "x\r\n"), QString());
        QCOMPARE(giftexport::appendToFile(path, "y\r\n"), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("x\r\ny\r\n"));
        QVERIFY(!giftexport::appendToFile(dir.filePath(u"no/such/dir/codes.txt"_qs), "z").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGiftList)
#include "test_giftlist.moc"
