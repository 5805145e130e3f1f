// Ledger figures on a ledger of a million codes (`bench_ledger [codes]`), filled through the
// program's own write path a harvest at a time: what recording costs the calling thread, how
// long 接收记录 takes to open and to follow a receive, to search, sort and export, and how large
// the file grows. Each goal is printed beside its floor: the same work in plain SQL on the same
// file. Prints; asserts nothing about time. Runs offscreen.
#include "ledger/ledger.h"
#include "app/ledgerwindow.h"
#include "ledger/ledgercsv.h"
#include "ledger/ledgermodel.h"
#include "nodesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <sys/resource.h>

namespace {

QTextStream out(stdout);

int kCodes = 1000000;
constexpr int kHarvest = 1000; // codes per recorded harvest, as a long multi-page run gives

// Codes and titles shaped like the sites' own: 16 letters and digits, a game's name and an item.
class Rows {
public:
    QList<SeenCode> next(int count) {
        // Ten games: one in ten rows, 100 000 at a million, for the export.
        static const QStringList games{u"剑侠情缘"_qs,  u"梦幻西游"_qs, u"王者荣耀"_qs, u"原神"_qs,
                                       u"Minecraft"_qs, u"英雄联盟"_qs, u"Steam"_qs,    u"天涯明月刀"_qs,
                                       u"魔兽世界"_qs,  u"崩坏"_qs};
        static const QString alphabet = u"ABCDEFGHJKLMNPQRSTUVWXYZ23456789"_qs;
        QList<SeenCode> rows;
        for (int i = 0; i < count; ++i, ++m_made) {
            QString code;
            for (int c = 0; c < 16; ++c)
                code += alphabet[m_random.bounded(int(alphabet.size()))];
            const QString title = u"【" + games[m_made % games.size()] + u"】新手礼包 第" +
                                  QString::number(m_made) + u"号 资源合集";
            rows.append({code,
                         title,
                         QString::number(m_random.bounded(1, 100)) + u".5 GB",
                         u"listing"_qs,
                         u"资源①"_qs,
                         QString::number(m_made / 20 + 1),
                         m_made % 5 ? u"√"_qs : u"×"_qs,
                         {}});
        }
        return rows;
    }

private:
    QRandomGenerator m_random{20240501};
    int m_made = 0;
};

double msSince(const QElapsedTimer &clock) {
    return clock.nsecsElapsed() / 1e6;
}

QString ms(double value) {
    return QString::number(value, 'f', value < 10 ? 2 : 1) + u" ms";
}

// Runs the step a few times, each after an untimed preparation; the median and the worst.
QString timed(int repeats, const std::function<void()> &step, const std::function<void()> &prepare = {}) {
    QList<double> times;
    for (int i = 0; i < repeats; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer clock;
        clock.start();
        step();
        times.append(msSince(clock));
    }
    std::sort(times.begin(), times.end());
    return u"median " + ms(times[times.size() / 2]) + u", worst " + ms(times.last());
}

// This thread's: checkpoints run on a thread of their own, away from the window's.
double cpuMs() {
    timespec at{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &at);
    return at.tv_sec * 1e3 + at.tv_nsec / 1e6;
}

// What recording harvests costs this thread, per code: all of it, and of that the kernel's
// (writing the log). Only the calls that record are counted.
class WriteCost {
public:
    void time(const QList<SeenCode> &harvest, const std::function<void(const QList<SeenCode> &)> &record) {
        const double cpuBefore = cpuMs();
        const double kernelBefore = kernelMs();
        record(harvest);
        m_cpuMs += cpuMs() - cpuBefore;
        m_kernelMs += kernelMs() - kernelBefore;
        m_codes += harvest.size();
    }
    QString text() const {
        return QString::number(m_cpuMs * 1000 / m_codes, 'f', 1) + u" µs (" +
               QString::number(m_kernelMs * 1000 / m_codes, 'f', 1) + u" in the kernel)";
    }

private:
    static double kernelMs() {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    }

    double m_cpuMs = 0;
    double m_kernelMs = 0;
    qsizetype m_codes = 0;
};

// A connection of the bench's own to the same file, for the floors: the same work in plain SQL.
class Plain {
public:
    explicit Plain(const QString &path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"plain"_qs);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_qs);
        db.open();
        // As the ledger's writer: a commit appends to the log without waiting for the disk, and
        // checkpoints are left to another connection (here, between the harvests timed).
        for (const QString &pragma : {u"PRAGMA synchronous=NORMAL"_qs, u"PRAGMA wal_autocheckpoint=20000"_qs,
                                      u"PRAGMA cache_size=-32768"_qs})
            QSqlQuery(db).exec(pragma);
    }
    ~Plain() {
        m_insert.reset();
        QSqlDatabase::database(u"plain"_qs, false).close();
        QSqlDatabase::removeDatabase(u"plain"_qs);
    }
    Q_DISABLE_COPY_MOVE(Plain)
    // Runs the statement and reads every field of every row; the rows read.
    static int read(const QString &sql, const QVariantList &values = {}) {
        QSqlQuery query(QSqlDatabase::database(u"plain"_qs));
        query.setForwardOnly(true);
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        query.exec();
        const int columns = query.record().count();
        int rows = 0;
        for (; query.next(); ++rows) {
            for (int i = 0; i < columns; ++i)
                query.value(i);
        }
        return rows;
    }
    // Inserts the codes as a harvest of new codes does, in one transaction.
    void insert(const QList<SeenCode> &codes) {
        QSqlDatabase db = QSqlDatabase::database(u"plain"_qs);
        if (!m_insert) {
            m_insert.emplace(db);
            m_insert->prepare(
                u"INSERT INTO codes(code, title, size, site, tab, source, mark, key, first_seen,"
                u" last_seen, code_folded, title_folded) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_qs);
        }
        db.transaction();
        for (const SeenCode &row : codes) {
            for (const QVariant &value :
                 QVariantList{row.code, row.title, row.size, row.site, row.tab, row.source, row.mark, u""_qs,
                              1, 1, row.code.toCaseFolded(), row.title.toCaseFolded()})
                m_insert->addBindValue(value);
            if (!m_insert->exec())
                out << "plain insert failed: " << m_insert->lastError().text() << '\n';
        }
        db.commit();
    }
    // What the ledger's checkpointer does for its writer (PASSIVE), or more (TRUNCATE waits).
    static void checkpoint(const QString &mode = u"PASSIVE"_qs) {
        QSqlQuery(QSqlDatabase::database(u"plain"_qs)).exec(u"PRAGMA wal_checkpoint(" + mode + u")");
    }

private:
    std::optional<QSqlQuery> m_insert;
};

QString goal(const QString &what, const QString &figure, const QString &floor, const QString &target) {
    return u"  " + what + u": " + figure + u"  (plain SQL " + floor + u"; goal " + target + u")\n";
}

void measure(const QString &path, Rows &rows, const QStringList &someCodes);

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1)
        kCodes = qMax(kHarvest, QString::fromLocal8Bit(argv[1]).toInt());
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ledger.sqlite"_qs);
    Rows rows;
    QStringList someCodes;
    {
        Ledger ledger(path);
        if (!ledger.open()) {
            out << "cannot open the ledger: " << ledger.whyOff() << '\n';
            return 1;
        }
        QElapsedTimer clock;
        clock.start();
        const double cpu = cpuMs();
        for (int made = 0; made < kCodes; made += kHarvest) {
            const QList<SeenCode> harvest = rows.next(kHarvest);
            ledger.recordHarvest(harvest);
            for (int i = 0; i < harvest.size(); i += 100)
                someCodes.append(harvest[i].code);
        }
        out << "filled with " << kCodes << " codes (" << kHarvest << " per harvest) in " << ms(msSince(clock))
            << ", " << QString::number((cpuMs() - cpu) * 1000 / kCodes, 'f', 1) << " µs CPU per code\n";
        clock.start();
        // Every tenth sampled code received, the rest of them tried in vain.
        for (int i = 0; i < someCodes.size(); ++i)
            ledger.recordReceive(someCodes[i], {}, i % 10 ? ReceiveKind::Failed : ReceiveKind::Received, {});
        out << someCodes.size() << " receives in " << ms(msSince(clock)) << '\n';
    }
    measure(path, rows, someCodes);
    out << "file once closed: " << QFileInfo(path).size() / 1024 << " KiB for " << kCodes << "+ codes\n";
    return 0;
}

namespace {

void measure(const QString &path, Rows &rows, const QStringList &someCodes) {
    Plain plain(path);
    Ledger ledger(path);
    NoDesktop desktop;
    ledger.open();
    out << "goals at " << kCodes << " codes:\n";

    { // Writing, through the ledger and in plain SQL, a harvest each in turn (this machine's
        // speed changes by a third from one minute to the next, and the floor must meet it in the
        // same state): harvests as they come in use, far enough apart for the log's checkpoint and
        // the search index to run between them (a harvest of 1000 codes is minutes of requests),
        // and then back to back. A checkpoint takes tens of milliseconds (it waits for the disk);
        // a write that begins before it has ended cannot start the log over, and appends to a
        // growing log instead.
        const auto pause = [] { QThread::msleep(250); };
        const auto recorded = [&ledger](const QList<SeenCode> &harvest) { ledger.recordHarvest(harvest); };
        const auto plainly = [&plain](const QList<SeenCode> &harvest) { plain.insert(harvest); };
        WriteCost spaced, plainSpaced;
        for (int i = 0; i < 40; ++i) {
            spaced.time(rows.next(kHarvest), recorded);
            pause();
            plainSpaced.time(rows.next(kHarvest), plainly);
            Plain::checkpoint();
            pause();
        }
        out << goal(u"writing, CPU per code, harvests apart"_qs, spaced.text(), plainSpaced.text(),
                    u"≤ 20 µs"_qs);
        WriteCost packed, plainPacked;
        for (int i = 0; i < 100; ++i) {
            packed.time(rows.next(kHarvest), recorded);
            plainPacked.time(rows.next(kHarvest), plainly);
        }
        out << goal(u"writing, CPU per code, harvests back to back"_qs, packed.text(), plainPacked.text(),
                    u"≤ 20 µs"_qs);
        // What the plain connection left in the log goes to the file, as the ledger's checkpointer
        // does: the figures below read the file as a running program would find it.
        Plain::checkpoint(u"TRUNCATE"_qs);
    }

    { // Searches are timed on a caught-up index: what is queued is indexed on a thread of its
        // own meanwhile, and a search reads what is still queued row by row.
        const int queued = ledger.unindexed();
        QElapsedTimer caughtUp;
        caughtUp.start();
        while (ledger.unindexed() > 0)
            QThread::msleep(50);
        out << "  search index caught up: " << queued << " codes queued, indexed in "
            << QString::number(caughtUp.elapsed() / 1000.0, 'f', 1) << " s on its own thread\n";
    }

    { // The first window of a process loads fonts and style, whatever it shows: not ours.
        QTemporaryDir other;
        Ledger empty(other.filePath(u"empty.sqlite"_qs));
        empty.open();
        LedgerWindow(empty, desktop, QString()).show();
    }
    std::unique_ptr<LedgerWindow> window;
    QElapsedTimer clock;
    clock.start();
    window = std::make_unique<LedgerWindow>(ledger, desktop, QString());
    const double openMs = msSince(clock);
    clock.start();
    Plain::read(u"SELECT * FROM codes ORDER BY last_seen DESC, rowid DESC LIMIT 256"_qs);
    out << goal(u"opening 接收记录 (" + window->countsText() + u')', ms(openMs), ms(msSince(clock)),
                u"≤ 50 ms"_qs);

    { // A receive with the window open: the call itself, then the window following it (which
        // its timer would do a moment later), counts included.
        // Where the time goes: the write, the window following it; each receive in turn, so
        // that a slow one shows whether it was the first (cold) or a later one.
        QList<double> times, writes, follows;
        QString inTurn;
        for (int i = 0; i < 9; ++i) {
            clock.start();
            ledger.recordReceive(someCodes[i * 7 + 3], {}, ReceiveKind::Received, u"成功接收"_qs);
            writes.append(msSince(clock));
            window->model().follow();
            times.append(msSince(clock));
            follows.append(times.last() - writes.last());
            inTurn += (i ? u", "_qs : QString()) + ms(times.last());
        }
        for (QList<double> *sorted : {&times, &writes, &follows})
            std::sort(sorted->begin(), sorted->end());
        clock.start();
        QSqlDatabase::database(u"plain"_qs).transaction();
        Plain::read(u"UPDATE codes SET last_kind = 1, last_tried = 2, received_at = 2 WHERE code = ?"_qs,
                    {someCodes[5]});
        Plain::read(u"INSERT INTO receives(code, at, kind, marker) VALUES(?, 2, 1, '')"_qs, {someCodes[5]});
        QSqlDatabase::database(u"plain"_qs).commit();
        out << goal(u"a receive recorded with 接收记录 open, window time"_qs,
                    u"median " + ms(times[times.size() / 2]) + u", worst " + ms(times.last()),
                    ms(msSince(clock)), u"≤ 5 ms"_qs);
        out << "    of which the write: median " << ms(writes[4]) << ", worst " << ms(writes.last())
            << "; following it: median " << ms(follows[4]) << ", worst " << ms(follows.last())
            << "\n    each in turn: " << inTurn << '\n';
    }

    LedgerModel &model = window->model();
    const QList<std::pair<QString, QString>> searches{
        {u"one code"_qs, someCodes[500].toLower()},
        {u"nothing matches"_qs, u"无此礼包"_qs},
        {u"one title"_qs, u"第123457号"_qs},
    };
    for (const auto &[what, text] : searches) {
        const QString found = timed(
            9, [&] { model.setFilter(text); }, [&] { model.setFilter(QString()); });
        const int shown = model.rowCount();
        clock.start();
        Plain::read(
            u"SELECT * FROM codes WHERE rowid IN (SELECT rowid FROM codes_search WHERE codes_search MATCH ?)"
            u" ORDER BY last_seen DESC, rowid DESC LIMIT 256"_qs,
            {QString(u'"' + text.toCaseFolded() + u'"')});
        out << goal(u"search, " + what + u" (" + QString::number(shown) + u" rows)", found,
                    ms(msSince(clock)), u"≤ 30 ms"_qs);
    }

    { // Export of one game's rows: a tenth of the ledger. Three of each in turn, the median of
        // each: one export alone swings by half with what the disk and the other threads do.
        model.setFilter(u"原神"_qs);
        QList<double> exportMs, plainMs;
        qsizetype bytes = 0;
        int read = 0;
        for (int i = 0; i < 3; ++i) {
            clock.start();
            bytes = ledgerCsv(model.headers(), model.shownRows()).size();
            exportMs.append(msSince(clock));
            clock.start();
            read = Plain::read(u"SELECT code, title, size, site, tab, source, mark, first_seen, last_seen,"
                               u" last_kind, last_tried FROM codes"
                               u" WHERE instr(code_folded, ?) > 0 OR instr(title_folded, ?) > 0"
                               u" ORDER BY last_seen DESC, rowid DESC"_qs,
                               {u"原神"_qs, u"原神"_qs});
            plainMs.append(msSince(clock));
        }
        std::sort(exportMs.begin(), exportMs.end());
        std::sort(plainMs.begin(), plainMs.end());
        out << goal(u"CSV export of " + QString::number(read) + u" rows (" + QString::number(bytes >> 20) +
                        u" MiB), median of 3",
                    ms(exportMs[1]), ms(plainMs[1]), u"≤ 1.5 × plain SQL"_qs);
        model.setFilter(QString());
    }

    out << "other figures:\n";
    out << "  recording a 100-row harvest of new codes (one transaction): "
        << timed(50, [&] { ledger.recordHarvest(rows.next(100)); }) << '\n';
    QList<SeenCode> again = rows.next(100);
    ledger.recordHarvest(again);
    out << "  recording the same 100 codes seen again: " << timed(50, [&] { ledger.recordHarvest(again); })
        << '\n';
    out << "  receivedAmong for " << someCodes.size()
        << " codes: " << timed(20, [&] { ledger.receivedAmong(someCodes); }) << '\n';
    for (const auto &[what, text] : {std::pair{u"a game (1 in 10)"_qs, u"原神"_qs},
                                     std::pair{u"two characters, every row"_qs, u"礼包"_qs}}) {
        out << "  search, " << what << ": "
            << timed(
                   3, [&] { model.setFilter(text); }, [&] { model.setFilter(QString()); })
            << ", " << model.rowCount() << " rows shown\n";
    }
    model.setFilter(QString());
    for (const auto &[what, column] : {std::pair{u"by title"_qs, int(LedgerModel::TitleColumn)},
                                       std::pair{u"by last seen"_qs, int(LedgerModel::LastSeenColumn)}}) {
        out << "  sorting " << what << ": "
            << timed(
                   3, [&] { model.sort(column, Qt::AscendingOrder); },
                   [&] { model.sort(LedgerModel::CodeColumn, Qt::DescendingOrder); })
            << '\n';
    }
    window.reset();
    out << "file while open: " << QFileInfo(path).size() / 1024 << " KiB, write-ahead log "
        << QFileInfo(path + u"-wal").size() / 1024 << " KiB\n";
}

} // namespace
