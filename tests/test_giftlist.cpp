#include "giftlist/giftexport.h"
#include "giftlist/giftlistmodel.h"
#include "warnings.h"

#include <QAbstractItemModelTester>
#include <QFile>
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
