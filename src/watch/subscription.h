#pragma once

#include "harvest/harvestkinds.h"
#include "web/fetched.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QSettings;

// What the watch keeps of one subscription between its checks, and the settings file with it.
struct SubscriptionState {
    Validators validators; // of its page's last answer
    int failures = 0;      // checks in a row that could not read it
    int minutes = 0;       // until its next check: the chosen interval, or more after failures
    QDateTime due;         // of its next check
    QDateTime lastCheck;
};

// One thing the new-gift watch looks at, and which of its rows the user wants told: a tab's
// first page (资源①, 资源②, 资源③) or a keyword search on the listing site (资源①搜索) or on
// the share site (资源②搜索).
struct Subscription {
    QString name;
    TabId tab = TabId::Libao; // of a search: Libao the listing site, Share the share site (资源③ has none)
    bool search = false;
    QString keyword;                 // of a search
    QStringList include;             // "包含": every word is in the title
    QStringList exclude;             // "不包含": no word is
    std::optional<double> maxSizeGb; // "大小不超过": a row whose size cannot be read passes
    bool enabled = true;
    bool autoReceive = false;
    SubscriptionState state; // the watch's: saved with it (but its next due time), not compared

    const HarvestKind &kind() const { return harvestKind(tab, search); }
    QString sourceCaption() const; // "资源②", "资源①搜索"
    // As the notification and the log name it: a subscription without a name by its source.
    QString shownName() const {
        return !name.trimmed().isEmpty() ? name : search ? sourceCaption() + u' ' + keyword : sourceCaption();
    }
    // The page it reads, the same for every subscription that reads it.
    QString sourceKey() const { return kind().command + u'\n' + (search ? keyword : QString()); }
    // Page 1 or the search, asking only for what changed since the last answer.
    RunRequest request() const;

    // What the user chose.
    friend bool operator==(const Subscription &a, const Subscription &b);
};

// Whether a row, its title and its size as the sites show them, is one the subscription wants.
// Words match in any case and any width ("ＰＶ" is "pv", U+3000 a space); a word that is
// excluded wins over one included; blank words are no rule.
bool passes(const Subscription &subscription, const QString &title, const QString &sizeText);

// A size as the sites write it ("2.3 GB", "700MB", "37.8G", "1,024 MB", "1.5t", in full width
// too) in GB of 1024 MB; none when it is no number ("未知") or names no unit: "1.5" alone may be
// MB as well as GB.
std::optional<double> sizeInGb(const QString &sizeText);

// A yes or no as the settings file holds it; anything else (a hand-edited "maybe") is the default.
bool settingsFlag(const QSettings &file, const QString &key, bool fallback);

// A file says how many subscriptions it holds: no more are read than this.
inline constexpr int kMostSubscriptions = 100;

// The subscriptions in the user's settings file, under "subscriptions" (an array). A file that
// has none yet reads as the three first pages the watch checked before subscriptions, ticked
// as watch/libao, watch/share and watch/tiquma were, receiving as watch/autoReceive did.
// Unreadable values read as defaults.
QList<Subscription> readSubscriptions(const QSettings &file);
// Replaces those in the file; an empty list is kept as one, not read as the old choices again.
void writeSubscriptions(QSettings &file, const QList<Subscription> &subscriptions);
