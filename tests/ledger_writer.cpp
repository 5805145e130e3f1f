// A second program on a ledger file, for the ledger tests.
//   ledger_writer write PATH ROWS  records harvests of ROWS new codes each, forever, and prints
//                                  the number of harvests committed after each one
//   ledger_writer lock PATH        takes the file's write lock, prints "locked", and keeps it
//                                  until its input ends
#include "ledger/ledger.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

namespace {

int write(const QString &path, int rows) {
    Ledger ledger(path);
    if (!ledger.open()) {
        std::fprintf(stderr, "off: %s\n", qPrintable(ledger.whyOff()));
        return 1;
    }
    for (int harvest = 0;; ++harvest) {
        QList<SeenCode> seen;
        for (int row = 0; row < rows; ++row)
            seen.append({QStringLiteral("w%1-%2").arg(harvest).arg(row), QStringLiteral("标题 %1").arg(row),
                         QStringLiteral("1.5 GB"), QStringLiteral("listing"), QStringLiteral("资源①"),
                         QString::number(harvest), QStringLiteral("√"), QString()});
        ledger.recordHarvest(seen);
        if (!ledger.isOn()) {
            std::fprintf(stderr, "off: %s\n", qPrintable(ledger.whyOff()));
            return 1;
        }
        std::printf("%d\n", harvest + 1);
        std::fflush(stdout);
    }
}

int lock(const QString &path) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("BEGIN EXCLUSIVE")))
            return 1;
        std::printf("locked\n");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        query.exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1StringView(QSqlDatabase::defaultConnection));
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"write")
        return write(args[2], args[3].toInt());
    if (args.size() == 3 && args[1] == u"lock")
        return lock(args[2]);
    std::fprintf(stderr, "usage: ledger_writer write PATH ROWS | lock PATH\n");
    return 2;
}
