#pragma once

#include "harvest/harvestrun.h"
#include "watch/subscription.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// What the command was asked to do.
struct HarvestOrder {
    const HarvestKind *harvest = harvestKindNamed(u"libao"); // one the command offers
    QList<int> pages;                                        // page harvests: in the order given, each once
    QString keyword;                                         // searches
    bool json = false;
    bool header = false;
    bool ledger = true;
    bool onlyNew = false; // only rows whose code the ledger had not seen before the command
    int requestsPerHost = HarvestRun::kDefaultParallelism;
};

// What `giftvane-harvest watch` was asked to do; what it does not say is taken from the settings
// file, as the window's watch left it.
struct WatchOrder {
    QList<Subscription> subscriptions; // empty: the settings file's
    std::optional<int> minutes;        // between checks
    bool receive = false;              // with the kept sign-in, whatever each subscription says
    bool once = false;                 // one check, then end
};

// The command line read. Exactly one of: an order to run, help, the version, or why the
// arguments are wrong (one line naming the problem).
struct CommandLine {
    HarvestOrder order;
    std::optional<WatchOrder> watch; // the watch, not a harvest
    bool listSubscriptions = false;
    bool help = false;
    bool version = false;
    QString error;
};

namespace harvestcommand {

// Pages the window can reach: its slider's 1 to 150, and page 0 that "上一页" goes down to.
inline constexpr int kFirstPage = 0;
inline constexpr int kLastPage = 150;
// Browsers' limit, which the window keeps too.
inline constexpr int kMostRequestsPerHost = HarvestRun::kDefaultParallelism;

// Arguments as QCoreApplication::arguments() gives them, the program's name first.
CommandLine parseCommandLine(const QStringList &arguments);
// "N", "N-M" or a comma list of both; empty with the reason in `error` when not valid.
QList<int> parsePages(const QString &text, QString *error);

// The watch's own words and options (see usage()), after "watch".
struct WatchWords {
    QStringList kinds; // KIND[,KIND…], at most one word
    QString every;     // empty: not given
    QStringList searches, shareSearches, include, exclude;
    QString maxSize; // empty: not given
};
WatchOrder parseWatch(const WatchWords &words, QString *error);
// One line per subscription: name, source, keyword, include, exclude, largest size (GB), and
// whether it is on and receives, tab-separated; words are joined by spaces.
QByteArray subscriptionLine(const Subscription &subscription);

// The run for one page (ignored for a search) of the order.
RunRequest runRequest(const HarvestOrder &order, int page);

QString usage();

} // namespace harvestcommand
