#include "app/ledgerwindow.h"
#include "giftlist/giftlistmodel.h"
#include "ledger/ledger.h"
#include "ledger/ledgercsv.h"
#include "ledger/ledgermodel.h"
#include "ledger/schema.h"
#include "recordingdesktop.h"
#include "session/recorder.h"
#include "warnings.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

const QDateTime kStart(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);
// Waits on the helper program end as soon as it answers; the limit is for the slowest build.
constexpr int kWaitMs = 30000;

// A connection of the test's own, for what the ledger does not show: the file's version and
// health, a trigger, the rows behind a ledger that is off.
class RawFile {
public:
    explicit RawFile(const QString &path)
        : m_name(u"raw-" + QString::number(++s_count)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~RawFile() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString &sql) const {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        return query.exec(sql);
    }
    QVariant value(const QString &sql) const {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    static inline int s_count = 0;
    QString m_name;
};

// A ledger file in a folder of its own, with a clock the test moves.
struct Files {
    QTemporaryDir dir;
    QDateTime clock = kStart;

    QString path() const { return dir.filePath(QStringLiteral("ledger.sqlite")); }
    std::unique_ptr<Ledger> ledger(const QString &at = {}) {
        auto ledger = std::make_unique<Ledger>(at.isEmpty() ? path() : at);
        ledger->setClock([this] { return clock; });
        return ledger;
    }
    std::unique_ptr<Ledger> opened() {
        auto ledger = this->ledger();
        ledger->open();
        return ledger;
    }
};

SeenCode seen(const QString &code, const QString &title = QStringLiteral("t"), const QString &mark = {}) {
    return {code,
            title,
            QStringLiteral("1 GB"),
            QStringLiteral("listing"),
            QStringLiteral("资源①"),
            QStringLiteral("1"),
            mark,
            {}};
}

QStringList codesOf(const QList<LedgerRow> &rows) {
    QStringList out;
    for (const LedgerRow &row : rows)
        out.append(row.code);
    return out;
}

QStringList codesOf(const LedgerModel &model) {
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out.append(model.data(model.index(row, LedgerModel::CodeColumn), Qt::DisplayRole).toString());
    return out;
}

LedgerRow rowOf(const Ledger &ledger, const QString &code) {
    const QList<LedgerRow> rows = ledger.rows({code});
    return rows.value(codesOf(rows).indexOf(code));
}

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A ledger that is off does nothing, reads as empty and says so no more.
void checkHarmless(Ledger &ledger, const QSignalSpy &off) {
    QCOMPARE(off.size(), 1);
    QVERIFY(!ledger.isOn());
    QVERIFY(!ledger.whyOff().isEmpty());
    ledger.recordHarvest({seen(QStringLiteral("X1"))});
    ledger.recordReceive(QStringLiteral("X1"), {}, ReceiveKind::Received, {});
    QVERIFY(ledger.receivedAmong({QStringLiteral("X1")}).isEmpty());
    QCOMPARE(ledger.counts().received + ledger.counts().pending, 0);
    QVERIFY(ledger.rows({}).isEmpty());
    QCOMPARE(LedgerModel(ledger).rowCount(), 0);
    QVERIFY(!ledger.open());
    QCOMPARE(off.size(), 1);
}

// Starts the helper that holds the file's write lock until its input closes.
bool lockFile(QProcess &child, const QString &path) {
    child.start(QStringLiteral(LEDGER_WRITER), {QStringLiteral("lock"), path});
    return child.waitForReadyRead(kWaitMs) && child.readLine() == "locked\n";
}

void release(QProcess &child) {
    child.closeWriteChannel();
    child.waitForFinished(kWaitMs);
}

// Root may write anywhere; a read-only folder refuses only an ordinary user, so the test
// becomes one for a while.
class OrdinaryUser {
public:
    OrdinaryUser()
        : m_switched(geteuid() == 0 && seteuid(65534) == 0) {}
    ~OrdinaryUser() {
        if (m_switched && seteuid(0) != 0)
            qFatal("cannot become root again");
    }
    Q_DISABLE_COPY_MOVE(OrdinaryUser)
    bool ok() const { return m_switched || geteuid() != 0; }

private:
    bool m_switched;
};

} // namespace

class TestLedger final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // --- the file -----------------------------------------------------------------------------

    void schemaIsCreatedAndDataSurvivesReopen() {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(Ledger::defaultPath(), QDir(folder).filePath(u"ledger.sqlite"_qs));
        QVERIFY(QFileInfo(folder).isDir());

        Files f;
        {
            auto ledger = f.opened();
            QVERIFY2(ledger->isOn(), qPrintable(ledger->whyOff()));
            ledger->recordHarvest(
                {{u"AB12"_qs, u"礼包一"_qs, u"2 GB"_qs, u"share"_qs, u"资源②"_qs, u"游戏"_qs, u"√"_qs, {}}});
            ledger->recordReceive(u"AB12"_qs, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        }
        {
            RawFile raw(f.path());
            QCOMPARE(raw.value(u"PRAGMA user_version"_qs).toInt(), Ledger::kSchemaVersion);
            QCOMPARE(raw.value(u"PRAGMA journal_mode"_qs).toString(), u"wal"_qs);
        }
        auto again = f.opened();
        QVERIFY(again->isOn());
        const LedgerRow row = rowOf(*again, u"AB12"_qs);
        QCOMPARE((QStringList{row.title, row.size, row.site, row.tab, row.source, row.mark}),
                 (QStringList{u"礼包一"_qs, u"2 GB"_qs, u"share"_qs, u"资源②"_qs, u"游戏"_qs, u"√"_qs}));
        QCOMPARE(row.firstSeen, kStart);
        QCOMPARE(again->receivedAmong({u"AB12"_qs}).value(u"AB12"_qs), kStart);
    }

    void versionOneFileIsUpgraded() {
        Files f;
        {
            RawFile raw(f.path());
            for (const char *sql : {
                     "CREATE TABLE codes(code TEXT PRIMARY KEY NOT NULL, title TEXT NOT NULL DEFAULT '',"
                     " size TEXT NOT NULL DEFAULT '', mark TEXT NOT NULL DEFAULT '',"
                     " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL)",
                     "CREATE TABLE receives(code TEXT NOT NULL, at INTEGER NOT NULL, kind INTEGER NOT NULL,"
                     " marker TEXT NOT NULL DEFAULT '')",
                     "INSERT INTO codes VALUES('ABC', 'Title One', '1 GB', '√', 1000, 2000)",
                     "INSERT INTO codes VALUES('XYZ', '', '', '×', 1000, 1000)",
                     "INSERT INTO receives VALUES('ABC', 3000, 1, 'ok'), ('ABC', 4000, 5, 'no'),"
                     " ('ONLY', 5000, 1, 'ok')",
                     "PRAGMA user_version = 1",
                 })
                QVERIFY2(raw.exec(QString::fromUtf8(sql)), sql);
        }
        auto ledger = f.ledger();
        QSignalSpy progress(ledger.get(), &Ledger::migrating);
        QVERIFY2(ledger->open(), qPrintable(ledger->whyOff()));
        QCOMPARE(progress.last(), (QVariantList{3, 3})); // every code indexed, ONLY among them
        QCOMPARE(RawFile(f.path()).value(u"PRAGMA user_version"_qs).toInt(), Ledger::kSchemaVersion);

        const auto ms = [](qint64 at) { return QDateTime::fromMSecsSinceEpoch(at, Qt::UTC); };
        const LedgerRow abc = rowOf(*ledger, u"ABC"_qs);
        QCOMPARE(abc.title, u"Title One"_qs);
        QCOMPARE(abc.firstSeen, ms(1000));
        QCOMPARE(abc.lastSeen, ms(2000));
        QCOMPARE(abc.lastKind, ReceiveKind::Failed);
        QCOMPARE(abc.lastTried, ms(4000));
        QCOMPARE(ledger->attempts(u"ABC"_qs).size(), 2);
        QCOMPARE(codesOf(ledger->rows({u"TITLE one"_qs})), QStringList{u"ABC"_qs});
        const auto received = ledger->receivedAmong({u"ABC"_qs, u"XYZ"_qs, u"ONLY"_qs});
        QCOMPARE(received.size(), 2);
        QCOMPARE(received.value(u"ABC"_qs), ms(3000));
        QCOMPARE(received.value(u"ONLY"_qs), ms(5000));
        const Ledger::Counts counts = ledger->counts();
        QCOMPARE((QList<int>{counts.received, counts.voided, counts.pending}), (QList<int>{2, 1, 0}));
    }

    // A file of an older schema keeps its search index (5 indexed as it wrote, 6 queued what it
    // wrote); what is written after the upgrade is indexed too.
    void olderFileKeepsItsIndex_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("lastDeleted"); // and its rowid taken again, upgraded
        QTest::newRow("indexed by triggers") << 5 << false;
        QTest::newRow("queued") << 6 << false;
        QTest::newRow("indexed by triggers, last deleted") << 5 << true;
        QTest::newRow("queued, last deleted") << 6 << true;
    }
    void olderFileKeepsItsIndex() {
        QFETCH(int, version);
        QFETCH(bool, lastDeleted);
        Files f;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"five"_qs);
            db.setDatabaseName(f.path());
            QVERIFY(db.open() && ledgerschema::prepare(db, {}, version).ok());
            QVERIFY(
                QSqlQuery(db).exec(u"INSERT INTO codes(code, title, code_folded, title_folded, first_seen,"
                                   u" last_seen) VALUES('ABC', 'One', 'abc', 'one', 1, 1),"
                                   u" ('XYZ', 'Two', 'xyz', 'two', 1, 2)"_qs));
            if (lastDeleted) {
                QVERIFY(QSqlQuery(db).exec(u"DELETE FROM codes WHERE code = 'XYZ'"_qs));
                QVERIFY(ledgerschema::prepare(db).ok());
                QVERIFY(QSqlQuery(db).exec(
                    u"INSERT INTO codes(code, title, code_folded, title_folded,"
                    u" first_seen, last_seen) VALUES('XYZ', 'Again', 'xyz', 'again', 3, 3)"_qs));
            }
        }
        QSqlDatabase::removeDatabase(u"five"_qs);
        auto ledger = f.opened();
        QCOMPARE(RawFile(f.path()).value(u"PRAGMA user_version"_qs).toInt(), Ledger::kSchemaVersion);
        QTRY_COMPARE(ledger->unindexed(), 0);
        const auto found = [&](const QString &text) { return codesOf(ledger->rows({text})); };
        QCOMPARE(found(u"one"_qs), QStringList{u"ABC"_qs});
        ledger->recordHarvest({seen(u"XYZ"_qs, u"Again"_qs)});
        QTRY_COMPARE(ledger->unindexed(), 0);
        QCOMPARE(found(u"again"_qs), QStringList{u"XYZ"_qs});
        QCOMPARE(found(u"two"_qs), QStringList());
        QVERIFY(RawFile(f.path()).exec(
            u"INSERT INTO codes_search(codes_search, rank) VALUES('integrity-check', 1)"_qs));
    }

    void unusableFileTurnsTheLedgerOff_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("garbage bytes") << u"garbage"_qs << u"not a database"_qs;
        QTest::newRow("written by a newer program") << u"newer"_qs << u"newer"_qs;
        QTest::newRow("folder is a file") << u"no folder"_qs << u"unable to open"_qs;
    }
    void unusableFileTurnsTheLedgerOff() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        Files f;
        QString path = f.path();
        if (kind == u"garbage") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int i = 0; i < 512; ++i)
                file.write(QByteArray::number(i * 7919, 16));
        } else if (kind == u"newer") {
            QVERIFY(RawFile(path).exec(u"PRAGMA user_version = 99"_qs));
        } else {
            QFile file(f.dir.filePath(u"plain"_qs));
            QVERIFY(file.open(QIODevice::WriteOnly));
            path = file.fileName() + u"/ledger.sqlite";
        }
        const QByteArray before = contentOf(path);
        auto ledger = f.ledger(path);
        QSignalSpy off(ledger.get(), &Ledger::turnedOff);
        QVERIFY(!ledger->open());
        QVERIFY2(ledger->whyOff().contains(reason), qPrintable(ledger->whyOff()));
        checkHarmless(*ledger, off);
        QCOMPARE(contentOf(path), before);
    }

    void readOnlyFolderTurnsTheLedgerOff_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("no ledger yet") << false;
        QTest::newRow("a ledger from before") << true;
    }
    void readOnlyFolderTurnsTheLedgerOff() {
        QFETCH(bool, existing);
        Files f;
        if (existing)
            f.opened()->recordHarvest({seen(u"OLD"_qs)});
        const QByteArray before = contentOf(f.path());
        const auto readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                              QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(f.dir.path(), readable));
        {
            OrdinaryUser user;
            if (!user.ok())
                QSKIP("running as root without the right to become another user");
            auto ledger = f.ledger();
            QSignalSpy off(ledger.get(), &Ledger::turnedOff);
            QVERIFY(!ledger->open());
            checkHarmless(*ledger, off);
        }
        QVERIFY(QFile::setPermissions(f.dir.path(), readable | QFile::WriteOwner));
        QCOMPARE(contentOf(f.path()), before);
    }

    void aHeldFileIsWaitedFor_data() {
        QTest::addColumn<bool>("lockedBeforeOpen");
        QTest::newRow("locked before open") << true;
        QTest::newRow("locked before a write") << false;
    }
    void aHeldFileIsWaitedFor() {
        // Another program holds the file for longer than a write may wait: what is recorded
        // meanwhile waits, in order and with its own time, and is written once the file is free.
        QFETCH(bool, lockedBeforeOpen);
        Files f;
        f.opened()->recordHarvest({seen(u"KEPT"_qs)});
        auto ledger = f.ledger();
        ledger->setClock([] { return QDateTime::fromSecsSinceEpoch(1000, Qt::UTC); });
        QSignalSpy off(ledger.get(), &Ledger::turnedOff);
        QSignalSpy changed(ledger.get(), &Ledger::changed);
        QProcess child;
        if (!lockedBeforeOpen)
            QVERIFY(ledger->open());
        QVERIFY(lockFile(child, f.path()));
        if (lockedBeforeOpen)
            QVERIFY(!ledger->open());
        ledger->recordHarvest({seen(u"FIRST"_qs)});
        ledger->recordReceive(u"FIRST"_qs, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        QCOMPARE(ledger->waiting(), 2);
        QVERIFY(!ledger->isOff());
        ledger->setClock([] { return QDateTime::fromSecsSinceEpoch(2000, Qt::UTC); });
        release(child);
        QCOMPARE(child.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 2, kWaitMs);
        QCOMPARE(ledger->waiting(), 0);
        QCOMPARE(off.size(), 0);
        QCOMPARE(codesOf(ledger->rows({u"FIRST"_qs})), QStringList{u"FIRST"_qs});
        QCOMPARE(ledger->rows({u"FIRST"_qs}).first().firstSeen.toSecsSinceEpoch(), 1000);
        QCOMPARE(ledger->confirmedAmong({u"FIRST"_qs}).value(u"FIRST"_qs).toSecsSinceEpoch(), 1000);
        QCOMPARE(ledger->rows({}).size(), 2);
    }

    void aDiskFullMidHarvestIsWaitedFor() {
        // The disk fills half-way through a harvest: none of it is kept, nothing is turned off,
        // and the whole harvest is written once there is room again.
        Files f;
        auto ledger = f.opened();
        QSignalSpy off(ledger.get(), &Ledger::turnedOff);
        // The limit is a connection's own: the ledger's, not its threads'.
        const QStringList own =
            QSqlDatabase::connectionNames().filter(QRegularExpression(u"^giftvane-ledger-\\d+$"_qs));
        QCOMPARE(own.size(), 1);
        QSqlQuery limit(QSqlDatabase::database(own.first()));
        QVERIFY(limit.exec(u"PRAGMA page_count"_qs) && limit.next());
        QVERIFY(limit.exec(u"PRAGMA max_page_count = "_qs + limit.value(0).toString()));
        QList<SeenCode> harvest;
        for (int i = 0; i < 100; ++i)
            harvest.append(seen(u"FULL"_qs + QString::number(i), QString(300, u'满')));
        ledger->recordHarvest(harvest);
        QCOMPARE(ledger->waiting(), 1);
        QCOMPARE(RawFile(f.path()).value(u"SELECT count(*) FROM codes"_qs).toInt(), 0);
        QVERIFY(limit.exec(u"PRAGMA max_page_count = 1073741823"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(ledger->waiting(), 0, kWaitMs);
        QCOMPARE(off.size(), 0);
        QCOMPARE(ledger->rows({}).size(), harvest.size());
        QCOMPARE(rowOf(*ledger, u"FULL99"_qs).title, harvest.last().title);
    }

    void killedWriterLosesNoCommit() {
        Files f;
        const int rows = 200;
        QProcess child;
        child.start(QStringLiteral(LEDGER_WRITER), {u"write"_qs, f.path(), QString::number(rows)});
        int committed = 0;
        while (committed < 5 && child.waitForReadyRead(kWaitMs)) {
            while (child.canReadLine())
                committed = child.readLine().trimmed().toInt();
        }
        QVERIFY2(committed >= 5, child.readAllStandardError().constData());
        child.kill();
        QVERIFY(child.waitForFinished(kWaitMs));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        RawFile raw(f.path());
        QCOMPARE(raw.value(u"PRAGMA integrity_check"_qs).toString(), u"ok"_qs);
        const int stored = raw.value(u"SELECT count(*) FROM codes"_qs).toInt();
        QVERIFY2(stored >= committed * rows, qPrintable(QString::number(stored)));
        QCOMPARE(stored % rows, 0); // no harvest half kept
        auto ledger = f.opened();
        QVERIFY(ledger->isOn());
        QCOMPARE(ledger->rows({u"w0-"_qs}).size(), rows);
    }

    // --- harvests -----------------------------------------------------------------------------

    void seenAgainUpdatesTheCode_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("kept");
        QTest::newRow("new title") << u"title"_qs << u"旧"_qs << u"新"_qs << u"新"_qs;
        QTest::newRow("no title keeps the old") << u"title"_qs << u"旧"_qs << QString() << u"旧"_qs;
        QTest::newRow("new size") << u"size"_qs << u"1 GB"_qs << u"2 GB"_qs << u"2 GB"_qs;
        QTest::newRow("other site") << u"site"_qs << u"listing"_qs << u"share"_qs << u"share"_qs;
        QTest::newRow("other tab") << u"tab"_qs << u"资源①"_qs << u"资源③"_qs << u"资源③"_qs;
        QTest::newRow("other page") << u"source"_qs << u"2"_qs << u"关键字"_qs << u"关键字"_qs;
        QTest::newRow("valid to void") << u"mark"_qs << u"√"_qs << u"×"_qs << u"×"_qs;
        QTest::newRow("unknown keeps valid") << u"mark"_qs << u"√"_qs << QString() << u"√"_qs;
        QTest::newRow("unknown keeps void") << u"mark"_qs << u"×"_qs << u""_qs << u"×"_qs;
        QTest::newRow("unknown to valid") << u"mark"_qs << QString() << u"√"_qs << u"√"_qs;
    }
    void seenAgainUpdatesTheCode() {
        QFETCH(QString, field);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, kept);
        const auto fieldOf = [&field](auto &row) -> QString & {
            return field == u"title"  ? row.title
                   : field == u"size" ? row.size
                   : field == u"site" ? row.site
                   : field == u"tab"  ? row.tab
                   : field == u"mark" ? row.mark
                                      : row.source;
        };
        Files f;
        auto ledger = f.opened();
        SeenCode row = seen(u"C0DE"_qs);
        fieldOf(row) = first;
        ledger->recordHarvest({row});
        f.clock = kStart.addSecs(3600);
        fieldOf(row) = second;
        ledger->recordHarvest({row});
        LedgerRow stored = rowOf(*ledger, u"C0DE"_qs);
        QCOMPARE(fieldOf(stored), kept);
        QCOMPARE(stored.firstSeen, kStart);
        QCOMPARE(stored.lastSeen, kStart.addSecs(3600));
    }

    void aCodeIsOneRowWhicheverWriteKeepsIt() {
        // A lone surrogate (a reply's JSON may escape one): a harvest stores it as a claim and a
        // receive look it up.
        Files f;
        auto ledger = f.opened();
        const QString code = u"AB"_qs + QChar(0xD800) + u"CD"_qs;
        ledger->recordHarvest({seen(code)});
        QCOMPARE(ledger->claim(code, u"t"_qs, false).result, Claim::Result::Taken);
        ledger->recordReceive(code, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        QCOMPARE(ledger->rows({}).size(), 1);
        QCOMPARE(ledger->counts().received, 1);
    }

    void harvestSkipsEmptyCodesAndTakesTheLastOfRepeats() {
        Files f;
        auto ledger = f.opened();
        QSignalSpy changed(ledger.get(), &Ledger::changed);
        ledger->recordHarvest(
            {seen({}), seen(u"A"_qs, u"first"_qs), seen(u""_qs), seen(u"A"_qs, u"again"_qs)});
        QCOMPARE(changed.size(), 1);
        const QList<LedgerRow> rows = ledger->rows({});
        QCOMPARE(codesOf(rows), QStringList{u"A"_qs});
        QCOMPARE(rows.first().title, u"again"_qs);
    }

    void resolvedRowsBecomeRecords_data() {
        QTest::addColumn<QString>("harvest");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("markKnown");
        QTest::addColumn<QStringList>("record"); // site, tab, source, mark; empty: no record
        QTest::newRow("tiquma page") << u"tiquma"_qs << u"L1"_qs << true
                                     << QStringList{u"listing"_qs, u"资源③"_qs, u"7"_qs, u"×"_qs};
        QTest::newRow("mark not confirmed")
            << u"libao"_qs << u"L1"_qs << false << QStringList{u"listing"_qs, u"资源①"_qs, u"7"_qs, u""_qs};
        QTest::newRow("share search") << u"share-search"_qs << u"S1"_qs << false
                                      << QStringList{u"share"_qs, u"资源②"_qs, u"关键字"_qs, u""_qs};
        QTest::newRow("no code") << u"libao"_qs << u""_qs << true << QStringList{};
    }

    void resolvedRowsBecomeRecords() {
        QFETCH(QString, harvest);
        QFETCH(QString, code);
        QFETCH(bool, markKnown);
        QFETCH(QStringList, record);
        const HarvestedRow row{0, u"标题"_qs, u"3 GB"_qs, u"/k"_qs, code, u"×"_qs, markKnown};
        const std::optional<SeenCode> seen = seenCodeOf(row, {harvestKindNamed(harvest), 7, u"关键字"_qs});
        QCOMPARE(seen.has_value(), !record.isEmpty());
        if (!seen)
            return;
        QCOMPARE((QStringList{seen->code, seen->title, seen->size}),
                 (QStringList{code, u"标题"_qs, u"3 GB"_qs}));
        QCOMPARE((QStringList{seen->site, seen->tab, seen->source, seen->mark}), record);
    }

    void harvestIsOneTransaction() {
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest({seen(u"BEFORE"_qs)});
        // Another program's trigger makes the third row of the next harvest fail.
        QVERIFY(RawFile(f.path()).exec(u"CREATE TRIGGER boom BEFORE INSERT ON codes WHEN NEW.code = 'C3'"
                                       u" BEGIN SELECT RAISE(ABORT, 'boom'); END"_qs));
        QSignalSpy off(ledger.get(), &Ledger::turnedOff);
        ledger->recordHarvest({seen(u"C1"_qs), seen(u"C2"_qs), seen(u"C3"_qs), seen(u"C4"_qs)});
        QVERIFY2(ledger->whyOff().contains(u"boom"_qs), qPrintable(ledger->whyOff()));
        checkHarmless(*ledger, off);
        QCOMPARE(RawFile(f.path()).value(u"SELECT group_concat(code) FROM codes"_qs).toString(),
                 u"BEFORE"_qs);
    }

    // --- receives -----------------------------------------------------------------------------

    void receivesAreKeptAndCounted() {
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest({seen(u"A"_qs, u"a"_qs, u"√"_qs), seen(u"B"_qs, u"b"_qs, u"×"_qs),
                               seen(u"C"_qs, u"c"_qs, u"√"_qs), seen(u"D"_qs, u"d"_qs, u"×"_qs)});
        const QDateTime t1 = kStart.addSecs(60), t2 = kStart.addSecs(120), t3 = kStart.addSecs(180);
        f.clock = t1;
        ledger->recordReceive(u"A"_qs, u"a"_qs, ReceiveKind::UnderReview, u"审核"_qs);
        ledger->recordReceive(u"B"_qs, u"b"_qs, ReceiveKind::Received, u"成功接收"_qs, true);
        f.clock = t2;
        ledger->recordReceive(u"A"_qs, u"a"_qs, ReceiveKind::Received, u"成功接收"_qs, true);
        f.clock = t3;
        ledger->recordReceive(u"A"_qs, u"a"_qs, ReceiveKind::Failed, {});
        ledger->recordReceive(u"NEW"_qs, u"新礼包"_qs, ReceiveKind::NotSignedIn, u"登录帐号"_qs);
        ledger->recordReceive({}, u"nothing"_qs, ReceiveKind::Received, {});

        const QList<ReceiveAttempt> tries = ledger->attempts(u"A"_qs);
        QCOMPARE(tries.size(), 3);
        QCOMPARE((QList<ReceiveKind>{tries[0].kind, tries[1].kind, tries[2].kind}),
                 (QList<ReceiveKind>{ReceiveKind::UnderReview, ReceiveKind::Received, ReceiveKind::Failed}));
        QCOMPARE(tries[1].at, t2);
        QCOMPARE(tries[0].marker, u"审核"_qs);

        const auto received = ledger->receivedAmong({u"A"_qs, u"B"_qs, u"C"_qs, u"NEW"_qs, u"NONE"_qs});
        QCOMPARE(received.size(), 2);
        QCOMPARE(received.value(u"A"_qs), t2); // the last success, not the last attempt
        QCOMPARE(received.value(u"B"_qs), t1);

        const LedgerRow added = rowOf(*ledger, u"NEW"_qs);
        QCOMPARE(added.title, u"新礼包"_qs);
        QCOMPARE(added.firstSeen, t3);
        QCOMPARE(added.lastKind, ReceiveKind::NotSignedIn);
        QCOMPARE(rowOf(*ledger, u"A"_qs).lastKind, ReceiveKind::Failed);
        QCOMPARE(ledger->rows({}).size(), 5);

        // A and B received (B's void mark does not count), D void, C and NEW pending.
        const Ledger::Counts counts = ledger->counts();
        QCOMPARE((QList<int>{counts.received, counts.voided, counts.pending}), (QList<int>{2, 1, 2}));
    }

    void receivedAmongTakesManyCodes() {
        Files f;
        auto ledger = f.opened();
        QStringList codes{u"a\"b"_qs, u"c\\d"_qs, u"[x],{y}"_qs, u"码'1"_qs};
        for (int i = codes.size(); i < 1000; ++i)
            codes.append(u"K" + QString::number(i));
        QList<SeenCode> rows;
        for (const QString &code : codes)
            rows.append(seen(code));
        ledger->recordHarvest(rows);
        QStringList expected;
        for (int i = 0; i < codes.size(); i += 3) {
            ledger->recordReceive(codes[i], {}, ReceiveKind::Received, {});
            expected.append(codes[i]);
        }
        QStringList found = ledger->receivedAmong(codes + QStringList{u"unknown"_qs}).keys();
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }

    // --- the model ----------------------------------------------------------------------------

    void modelReadsInBatchesAndFollowsTheLedger() {
        Files f;
        auto ledger = f.opened();
        QList<SeenCode> rows;
        for (int i = 0; i < 600; ++i)
            rows.append(seen(QStringLiteral("M%1").arg(i, 3, 10, QLatin1Char('0'))));
        ledger->recordHarvest(rows);
        LedgerModel model(*ledger);
        QCOMPARE(model.rowCount(), LedgerModel::kBatch);
        for (int reads = 0; reads < 2; ++reads) {
            QVERIFY(model.canFetchMore({}));
            model.fetchMore({});
        }
        QCOMPARE(model.rowCount(), 600);
        QVERIFY(!model.canFetchMore({}));
        QCOMPARE(codesOf(model).removeDuplicates(), 0);
        // The tester reads more itself, so it watches only from here on.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        f.clock = kStart.addSecs(1);
        ledger->recordHarvest({seen(u"LATEST"_qs)});
        QTRY_COMPARE(model.rowCount(), 601);
        QCOMPARE(codesOf(model).first(), u"LATEST"_qs);
    }

    void modelFilters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("codes");
        QTest::newRow("everything") << QString()
                                    << QStringList{u"AbC123"_qs, u"FULL"_qs, u"PLAIN"_qs, u"Q_R"_qs,
                                                   u"QAR"_qs,    u"XAAZ"_qs, u"XY%Z"_qs};
        QTest::newRow("code, any case") << u"abc"_qs << QStringList{u"AbC123"_qs};
        QTest::newRow("title, any case") << u"ALPHA 礼"_qs << QStringList{u"AbC123"_qs};
        QTest::newRow("percent is literal") << u"%z"_qs << QStringList{u"XY%Z"_qs};
        QTest::newRow("underscore is literal") << u"q_r"_qs << QStringList{u"Q_R"_qs};
        QTest::newRow("apostrophe") << u"o'b"_qs << QStringList{u"PLAIN"_qs};
        QTest::newRow("quotes") << u"\"quoted\""_qs << QStringList{u"PLAIN"_qs};
        QTest::newRow("full-width, any case") << u"ａｂｃ"_qs << QStringList{u"FULL"_qs};
        QTest::newRow("no injection") << u"') OR 1=1 --"_qs << QStringList{};
    }
    void modelFilters() {
        QFETCH(QString, text);
        QFETCH(QStringList, codes);
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest({seen(u"AbC123"_qs, u"Alpha 礼包"_qs), seen(u"XY%Z"_qs, u"100% 免费"_qs),
                               seen(u"XAAZ"_qs), seen(u"Q_R"_qs, u"under_score"_qs), seen(u"QAR"_qs),
                               seen(u"PLAIN"_qs, u"O'Brien \"quoted\""_qs),
                               seen(u"FULL"_qs, u"ＡＢＣ全角"_qs)});
        LedgerModel model(*ledger);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.sort(LedgerModel::CodeColumn, Qt::AscendingOrder);
        model.setFilter(text);
        QCOMPARE(codesOf(model), codes);
    }

    void modelSorts_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<QString>("codes");
        QTest::newRow("code, case aside")
            << int(LedgerModel::CodeColumn) << Qt::AscendingOrder << u"A b c"_qs;
        QTest::newRow("code, down") << int(LedgerModel::CodeColumn) << Qt::DescendingOrder << u"c b A"_qs;
        QTest::newRow("title, case aside")
            << int(LedgerModel::TitleColumn) << Qt::AscendingOrder << u"A b c"_qs;
        QTest::newRow("size by value") << int(LedgerModel::SizeColumn) << Qt::AscendingOrder << u"c b A"_qs;
        QTest::newRow("tab") << int(LedgerModel::TabColumn) << Qt::DescendingOrder << u"c b A"_qs;
        QTest::newRow("source") << int(LedgerModel::SourceColumn) << Qt::AscendingOrder << u"A b c"_qs;
        QTest::newRow("mark") << int(LedgerModel::MarkColumn) << Qt::AscendingOrder << u"c b A"_qs;
        QTest::newRow("first seen") << int(LedgerModel::FirstSeenColumn) << Qt::AscendingOrder << u"b A c"_qs;
        QTest::newRow("last seen, down")
            << int(LedgerModel::LastSeenColumn) << Qt::DescendingOrder << u"c A b"_qs;
        QTest::newRow("outcome") << int(LedgerModel::OutcomeColumn) << Qt::AscendingOrder << u"c b A"_qs;
        QTest::newRow("last tried, down")
            << int(LedgerModel::LastTriedColumn) << Qt::DescendingOrder << u"A b c"_qs;
    }
    void modelSorts() {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        QFETCH(QString, codes);
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest(
            {{u"b"_qs, u"Beta"_qs, u"2 GB"_qs, u"listing"_qs, u"资源②"_qs, u"3"_qs, u"×"_qs, {}}});
        f.clock = kStart.addSecs(1);
        ledger->recordHarvest(
            {{u"A"_qs, u"alpha"_qs, u"10 GB"_qs, u"listing"_qs, u"资源①"_qs, u"1"_qs, u"√"_qs, {}}});
        f.clock = kStart.addSecs(2);
        ledger->recordHarvest(
            {{u"c"_qs, u"Gamma"_qs, u"1 GB"_qs, u"share"_qs, u"资源③"_qs, u"游戏"_qs, {}, {}}});
        ledger->recordReceive(u"b"_qs, {}, ReceiveKind::Received, {});
        f.clock = kStart.addSecs(3);
        ledger->recordReceive(u"A"_qs, {}, ReceiveKind::Failed, {});
        LedgerModel model(*ledger);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.sort(column, order);
        QCOMPARE(codesOf(model).join(u' '), codes);
    }

    void shownRowsAreEveryMatchInOrder() {
        Files f;
        auto ledger = f.opened();
        QList<SeenCode> rows;
        for (int i = 0; i < 600; ++i)
            rows.append(seen(QString::number(i), i % 2 ? u"odd"_qs : u"even"_qs, u"√"_qs));
        ledger->recordHarvest(rows);
        ledger->recordReceive(u"8"_qs, {}, ReceiveKind::MembersOnly, {});
        LedgerModel model(*ledger);
        model.setFilter(u"EVEN"_qs);
        model.sort(LedgerModel::OutcomeColumn, Qt::DescendingOrder);
        const QList<QStringList> shown = model.shownRows();
        QCOMPARE(shown.size(), 300);
        QCOMPARE(model.rowCount(), LedgerModel::kBatch);
        for (int row : {0, 1, LedgerModel::kBatch - 1}) {
            for (int column = 0; column < LedgerModel::ColumnCount; ++column)
                QCOMPARE(shown[row][column],
                         model.data(model.index(row, column), Qt::DisplayRole).toString());
        }
        QCOMPARE(shown[0][LedgerModel::CodeColumn], u"8"_qs);
        QCOMPARE(shown[0][LedgerModel::OutcomeColumn], u"仅限VIP"_qs);
        QCOMPARE(shown[0][LedgerModel::LastTriedColumn],
                 kStart.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_qs));
        QCOMPARE(shown[1][LedgerModel::OutcomeColumn], QString());
    }

    void timesAreShownAsQtWritesThem() {
        for (const QDateTime &time : {QDateTime(QDate(2024, 2, 29), QTime(13, 7, 5), Qt::UTC),
                                      QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58), Qt::UTC),
                                      QDateTime(QDate(1969, 7, 20), QTime(20, 17, 41), Qt::UTC),
                                      QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC),
                                      QDateTime(QDate(12000, 1, 2), QTime(3, 4, 5), Qt::UTC)}) {
            LedgerRow row;
            row.lastSeen = time;
            QCOMPARE(LedgerModel::cellText(row, LedgerModel::LastSeenColumn),
                     time.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_qs));
        }
    }

    // --- CSV ----------------------------------------------------------------------------------

    void csvFields_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << QStringList{u"AB12"_qs, u"礼包"_qs} << QByteArray("AB12,礼包");
        QTest::newRow("empty") << QStringList{QString(), u"x"_qs} << QByteArray(",x");
        QTest::newRow("comma") << QStringList{u"a,b"_qs} << QByteArray("\"a,b\"");
        QTest::newRow("quote") << QStringList{u"say \"hi\""_qs} << QByteArray("\"say \"\"hi\"\"\"");
        QTest::newRow("line feed") << QStringList{u"a\nb"_qs} << QByteArray("\"a\nb\"");
        QTest::newRow("carriage return") << QStringList{u"a\rb"_qs} << QByteArray("\"a\rb\"");
        QTest::newRow("formula") << QStringList{u"=HYPERLINK(\"x\")"_qs}
                                 << QByteArray("\"'=HYPERLINK(\"\"x\"\")\"");
        QTest::newRow("plus") << QStringList{u"+1"_qs} << QByteArray("'+1");
        QTest::newRow("minus") << QStringList{u"-2+3"_qs} << QByteArray("'-2+3");
        QTest::newRow("at") << QStringList{u"@SUM(A1)"_qs} << QByteArray("'@SUM(A1)");
        QTest::newRow("tab") << QStringList{u"\t=1"_qs} << QByteArray("'\t=1");
        QTest::newRow("leading carriage return") << QStringList{u"\r=1"_qs} << QByteArray("\"'\r=1\"");
        QTest::newRow("sign inside") << QStringList{u"a=b-c"_qs} << QByteArray("a=b-c");
    }
    void csvFields() {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, line);
        const QByteArray csv = ledgerCsv({u"h1"_qs, u"=h2"_qs}, {fields, {u"end"_qs}});
        QCOMPARE(csv, QByteArray("\xEF\xBB\xBFh1,'=h2\r\n" + line + "\r\nend\r\n"));
    }

    // --- the window ---------------------------------------------------------------------------

    void windowSearchesAsYouTypeAndSorts() {
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest({seen(u"KEY1"_qs, u"a"_qs, u"√"_qs), seen(u"KEY2"_qs, u"b"_qs, u"×"_qs),
                               seen(u"OTHER"_qs, u"c"_qs)});
        RecordingDesktop desktop;
        LedgerWindow window(*ledger, desktop, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), u"接收记录"_qs);
        QCOMPARE(window.countsText(), u"已接收：0  已失效：1  待接收：2"_qs);
        auto *search = window.findChild<QLineEdit *>(u"search"_qs);
        QCOMPARE(window.findChild<QLabel *>(u"searchLabel"_qs)->buddy(), search);

        QTest::keyClicks(search, u"key"_qs);
        QCOMPARE(window.model().rowCount(), 3); // not yet: the search waits for typing to settle
        QTRY_COMPARE(window.model().rowCount(), 2);

        auto *view = window.findChild<QTableView *>(u"codes"_qs);
        QHeaderView *header = view->horizontalHeader();
        const QPoint codeHeader(header->sectionViewportPosition(LedgerModel::CodeColumn) + 5, 5);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, codeHeader);
        const QStringList first = codesOf(window.model());
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, codeHeader);
        QCOMPARE(codesOf(window.model()), (QStringList{first.last(), first.first()}));
        QCOMPARE(first.size(), 2);

        // The counts are those of the rows the search shows.
        ledger->recordReceive(u"KEY2"_qs, {}, ReceiveKind::Received, {});
        QTRY_COMPARE(window.countsText(), u"已接收：1  已失效：0  待接收：1"_qs);
    }

    void windowExportsTheShownRows_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("written") << u"codes.csv"_qs << u"Corvane系列软件|成功导出接收记录"_qs;
        QTest::newRow("named without a type: .csv added")
            << u"codes"_qs << u"Corvane系列软件|成功导出接收记录"_qs;
        QTest::newRow("cannot write") << u"missing/codes.csv"_qs << u"Corvane软件|导出失败："_qs;
        QTest::newRow("cancelled") << QString() << QString();
    }
    void windowExportsTheShownRows() {
        QFETCH(QString, file);
        QFETCH(QString, message);
        Files f;
        auto ledger = f.opened();
        ledger->recordHarvest({seen(u"=CMD"_qs, u"x,y"_qs), seen(u"SKIP"_qs)});
        RecordingDesktop desktop;
        desktop.savePath = file.isEmpty() ? QString() : f.dir.filePath(file);
        LedgerWindow window(*ledger, desktop, {});
        QTest::keyClicks(window.findChild<QLineEdit *>(u"search"_qs), u"cmd"_qs);
        // Clicked before the search has run: what is typed is what is exported.
        window.findChild<QPushButton *>(u"export"_qs)->click();
        QCOMPARE(desktop.dialogs, QStringList{u"导出接收记录|CSV 文件 (*.csv)|接收记录.csv"_qs});
        QStringList shown;
        for (const RecordingDesktop::Message &m : desktop.messages)
            shown.append(m.title + u"|" + m.text);
        QCOMPARE(shown.size(), message.isEmpty() ? 0 : 1);
        if (message.isEmpty())
            return;
        QVERIFY2(shown.first().startsWith(message), qPrintable(shown.first()));
        const bool written = message.contains(u"成功"_qs);
        QCOMPARE(desktop.messages.first().icon,
                 written ? Desktop::Icon::Information : Desktop::Icon::Warning);
        QCOMPARE(shown.first().size() > message.size(), !written); // the system's reason follows
        if (written) {
            // The matching row only, guarded and quoted, under the header line.
            const QList<QByteArray> lines = contentOf(f.dir.filePath(u"codes.csv"_qs)).split('\n');
            QCOMPARE(lines.size(), 3);
            QVERIFY(lines[0].startsWith(
                QByteArray(QByteArray("\xEF\xBB\xBF") + u"礼包码,名称,大小"_qs.toUtf8())));
            QVERIFY(lines[1].startsWith("'=CMD,\"x,y\","));
            QCOMPARE(lines[2], QByteArray());
        }
        QCOMPARE(window.model().shownRows().size(), 1);
    }
};

QTEST_MAIN(TestLedger)
#include "test_ledger.moc"
