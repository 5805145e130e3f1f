// Ledger figures on a ledger of 100 000 codes: what recording a harvest costs the calling
// thread, how long the ledger window's model takes to show its first rows, to search and to
// sort, and how large the file grows. Prints; asserts nothing about time.
#include "ledger/ledger.h"
#include "ledger/ledgermodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

QTextStream out(stdout);

constexpr int kCodes = 100000;

// Codes and titles shaped like the sites' own: 16 letters and digits, a game's name and an item.
class Rows {
public:
    QList<SeenCode> next(int count) {
        static const QStringList games{u"剑侠情缘"_qs,  u"梦幻西游"_qs, u"王者荣耀"_qs, u"原神"_qs,
                                       u"Minecraft"_qs, u"英雄联盟"_qs, u"Steam"_qs,    u"天涯明月刀"_qs};
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

int measure(const QString &path, Rows &rows, const QStringList &someCodes);

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
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
        for (int made = 0; made < kCodes; made += 1000) {
            const QList<SeenCode> harvest = rows.next(1000);
            ledger.recordHarvest(harvest);
            for (int i = 0; i < harvest.size(); i += 100)
                someCodes.append(harvest[i].code);
        }
        // Every tenth sampled code received, the rest of them tried in vain.
        for (int i = 0; i < someCodes.size(); ++i)
            ledger.recordReceive(someCodes[i], {}, i % 10 ? ReceiveKind::Failed : ReceiveKind::Received, {});
        out << "filled with " << kCodes << " codes (1000 per harvest) and " << someCodes.size()
            << " receives in " << ms(msSince(clock)) << '\n';
    }

    const int status = measure(path, rows, someCodes);
    out << "file once closed: " << QFileInfo(path).size() / 1024 << " KiB for " << kCodes << "+ codes\n";
    return status;
}

namespace {

int measure(const QString &path, Rows &rows, const QStringList &someCodes) {
    Ledger ledger(path);
    QElapsedTimer clock;
    clock.start();
    ledger.open();
    const double openMs = msSince(clock);
    clock.start();
    auto model = std::make_unique<LedgerModel>(ledger);
    const double firstRowsMs = msSince(clock);
    clock.start();
    const Ledger::Counts counts = ledger.counts();
    const double countsMs = msSince(clock);
    out << "ledger window's model over " << kCodes << " codes, until its first " << model->rowCount()
        << " rows are there: " << ms(openMs + firstRowsMs + countsMs) << " (open " << ms(openMs)
        << ", first rows " << ms(firstRowsMs) << ", counts " << ms(countsMs) << ": " << counts.received << '/'
        << counts.voided << '/' << counts.pending << ")\n";

    out << "recording a 100-row harvest of new codes (one transaction): "
        << timed(50, [&] { ledger.recordHarvest(rows.next(100)); }) << '\n';
    QList<SeenCode> again = rows.next(100);
    ledger.recordHarvest(again);
    out << "recording the same 100 codes seen again: " << timed(50, [&] { ledger.recordHarvest(again); })
        << '\n';
    out << "one receive: " << timed(50, [&] {
        ledger.recordReceive(someCodes[1], {}, ReceiveKind::Failed, u"失败"_qs);
    }) << '\n';
    out << "receivedAmong for 1000 codes: " << timed(20, [&] { ledger.receivedAmong(someCodes); }) << '\n';

    out << "search (setFilter) on " << kCodes << " codes:\n";
    const QList<std::pair<QString, QString>> searches{
        {u"one code"_qs, someCodes[500].toLower()},
        {u"a game (1 in 8)"_qs, u"原神"_qs},
        {u"nothing matches"_qs, u"无此礼包"_qs},
        {u"every row"_qs, u"礼包"_qs},
    };
    for (const auto &[what, text] : searches) {
        out << "  " << what << ": "
            << timed(
                   9, [&] { model->setFilter(text); }, [&] { model->setFilter(QString()); });
        out << ", " << model->rowCount() << " rows shown\n";
    }
    model->setFilter(QString());
    out << "sorting " << kCodes << " codes:\n";
    for (const auto &[what, column] : {std::pair{u"by title"_qs, int(LedgerModel::TitleColumn)},
                                       std::pair{u"by outcome"_qs, int(LedgerModel::OutcomeColumn)},
                                       std::pair{u"by last seen"_qs, int(LedgerModel::LastSeenColumn)}}) {
        out << "  " << what << ": "
            << timed(
                   9, [&] { model->sort(column, Qt::AscendingOrder); },
                   [&] { model->sort(LedgerModel::CodeColumn, Qt::DescendingOrder); })
            << '\n';
    }
    clock.start();
    model->setFilter(u"原神"_qs);
    const qsizetype exported = model->shownRows().size();
    out << "all rows of a search for the CSV export (" << exported << " rows): " << ms(msSince(clock))
        << '\n';

    model.reset();
    out << "file while open: " << QFileInfo(path).size() / 1024 << " KiB, write-ahead log "
        << QFileInfo(path + u"-wal").size() / 1024 << " KiB\n";
    return 0;
}

} // namespace
