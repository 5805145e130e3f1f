#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class LedgerSearchIndexer;
class LedgerWorker;
namespace ledgersql {
struct SqlResult;
class NativeStatement;
} // namespace ledgersql
class QSqlDatabase;
class QSqlQuery;

// What a harvest saw of one gift code.
struct SeenCode {
    QString code, title, size;
    QString site;   // "listing" or "share"
    QString tab;    // the tab's caption, such as "资源①"
    QString source; // the page number or the keyword, as text
    QString mark;   // "√", "×" or empty
    QString key;    // the resource's detail path or resource id, on its site
};

// How one receive attempt ended. The numbers are stored in the file: never renumber them.
// NoAnswer: the post never reached the cloud disk, which says nothing about the code. Unknown: the
// post went out but no answer came back in time, so the cloud disk may have acted on it.
enum class ReceiveKind {
    Received = 1,
    NotSignedIn = 2,
    MembersOnly = 3,
    UnderReview = 4,
    Failed = 5,
    NoAnswer = 6,
    Unknown = 7
};

inline constexpr ReceiveKind kReceiveKinds[] = {
    ReceiveKind::Received, ReceiveKind::NotSignedIn, ReceiveKind::MembersOnly, ReceiveKind::UnderReview,
    ReceiveKind::Failed,   ReceiveKind::NoAnswer,    ReceiveKind::Unknown};

// Where a code stands with receiving, as the file holds it for every Giftvane on it: free to post,
// claimed by a post on its way, posted without a known result, or proven received. Only a free
// code is posted without the user asking for it. Stored in the file: never renumber.
enum class ClaimState { Free = 0, Posting = 1, Unknown = 2, Proven = 3 };

// What asking for a claim gave.
struct Claim {
    enum class Result {
        Taken,     // committed in the file: the post may go
        Held,      // the code is claimed or proven received already: no post
        NotWritten // the file cannot take it now (busy, full, read-only): no post
    };
    Result result = Result::NotWritten;
    ClaimState held = ClaimState::Free; // what stood in the way, for Held
    QString why;                        // for NotWritten
};

// The outcome as the ledger window names it.
QString receiveKindText(ReceiveKind kind);

struct ReceiveAttempt {
    QDateTime at;
    ReceiveKind kind;
    QString marker;
};

// The fields of a code's row, in the order the ledger window shows them.
enum class LedgerField { Code, Title, Size, Tab, Source, Mark, FirstSeen, LastSeen, Outcome, LastTried };

struct LedgerRow {
    QString code, title, size, site, tab, source, mark;
    QDateTime firstSeen, lastSeen;
    std::optional<ReceiveKind> lastKind; // empty when never tried
    QDateTime lastTried;
    // Where the row stands in its view's order: the value it is sorted by, then its id.
    QVariant sortKey;
    qint64 id = 0;
};

// Which rows to read and in what order. The filter is a case-insensitive substring of the code
// or the title, taken literally. Codes, when given, keep only those codes (exactly as recorded),
// and the filter then narrows them further.
struct LedgerView {
    QString filter;
    QStringList codes;
    LedgerField sortBy = LedgerField::LastSeen;
    Qt::SortOrder order = Qt::DescendingOrder;
};

// Every gift code seen and every receive attempt, kept across runs in one SQLite file. The
// ledger never stops the program. A file that another program holds (or a full disk) is waited
// for: what is to be recorded waits in memory and is written, in order and with its own time,
// as soon as the file can be had again, tried again and again at growing intervals. Only a file
// that cannot be used at all (corrupt, read-only, written by a newer program) turns the ledger
// off: it says why once, and from then on every call does nothing and reads as empty. A read
// that fails reads as empty. Used on the thread that made it. The schema is in schema.cpp, the
// write path in writes.cpp, the reads in ledger.cpp, the search index's upkeep in
// searchindexer.cpp.
class Ledger final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Ledger)

public:
    struct Counts {
        int received = 0, voided = 0, pending = 0;
        bool more = false; // only the first rows were counted (atMost): there are more
    };
    using Clock = std::function<QDateTime()>;

    static constexpr int kSchemaVersion = 7;
    // A claim still posting after this long belongs to a program that went without settling it
    // (a post's deadline is a minute): its post's result is unknown.
    static constexpr qint64 kClaimLifetimeMs = 3 * 60 * 1000;
    // Another program writing the same file holds it for a few milliseconds at a time; a lock
    // held longer than this is not worth stalling the window for: what waits is tried again.
    static constexpr int kBusyTimeoutMs = 200;
    // The first wait before a write is tried again, doubled each time up to the longest.
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLongestRetryMs = 30000;

    // Rows recorded between two checkpoints, about a thousand pages of log.
    static constexpr int kCheckpointRows = 500;

    // A program without a window may wait longer for a busy file (busyTimeoutMs).
    explicit Ledger(const QString &path, QObject *parent = nullptr, int busyTimeoutMs = kBusyTimeoutMs);
    // Tries once more to write what waits.
    ~Ledger() override;

    // ledger.sqlite in the user's data folder, which is created when missing.
    static QString defaultPath();

    // Opens the file, creating or upgrading its tables; true when it is in use now. A busy
    // file is tried again later (recording waits meanwhile); one that cannot be used turns the
    // ledger off with turnedOff(). Until opened the ledger is off, without a signal.
    bool open();
    bool isOn() const { return m_on; }
    // Turned off for good: the file cannot be used.
    bool isOff() const { return m_gaveUp; }
    // Why it is off, naming the file.
    QString whyOff() const { return m_whyOff; }
    QString path() const { return m_path; }
    // The time stamped on what is recorded; the system clock unless replaced.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // One transaction for the whole harvest. A code seen again keeps its first sighting; an
    // empty field never replaces a known one.
    void recordHarvest(const QList<SeenCode> &rows);
    // Claims the code for a post, in one short transaction of its own, after what waits for the
    // file has been written. A forced claim (the user receiving by hand) takes the code whatever
    // stands; otherwise a code claimed or proven received is held. Never taken while the
    // ledger is off; the caller then receives without claims, as it would without a ledger.
    Claim claim(const QString &code, const QString &title, bool force);
    // One transaction per attempt; a code not seen before is added with its title. It settles the
    // code's claim: a receive proven by the reply keeps the code from any later automatic post, a
    // post without an answer leaves it unknown, and any other outcome sets it free.
    void recordReceive(const QString &code, const QString &title, ReceiveKind kind, const QString &marker,
                       bool proven = false);
    // Claims that were posting when their program went, found when the file was opened: now
    // unknown. Said once by whoever opened it.
    int claimsLeftUnknown() const { return m_claimsLeftUnknown; }
    // Writes what waits for the file now, if the file can be had; true when nothing waits.
    bool flush();
    // Records waiting for the file: harvests and receives.
    int waiting() const { return int(m_waiting.size()); }

    // When each of the codes that has been received was last received.
    QHash<QString, QDateTime> receivedAmong(const QStringList &codes) const;
    // The same, counting only receives the reply proved (the single receive's own marker decided
    // it): a batch's looser "成功" may have been a failure's text, so such a code is offered again.
    QHash<QString, QDateTime> confirmedAmong(const QStringList &codes) const;
    // The claim of each of the codes that is not free, with when it was taken or settled.
    QHash<QString, std::pair<ClaimState, QDateTime>> claimsAmong(const QStringList &codes) const;
    // The code last seen for each of the resources (by key, on the site), where it was not seen
    // void: a harvest may check it instead of resolving the resource afresh.
    QHash<QString, QString> knownCodes(const QString &site, const QStringList &keys) const;
    // When each of the codes that the ledger holds was first seen; none when the ledger cannot
    // tell (off, not yet open, or the read failed), which is not "never seen".
    std::optional<QHash<QString, QDateTime>> firstSeenAmong(const QStringList &codes) const;
    // The received, void and pending codes among the view's rows (its order aside); of the
    // whole ledger by default, which the write path keeps counted. A view's rows are counted
    // up to atMost (all when < 0), so that a search that matches most of a large ledger
    // costs no more to count than to show.
    Counts counts(const LedgerView &view = {}, int atMost = -1) const;
    // Rows from offset on, at most limit of them (all when limit < 0).
    QList<LedgerRow> rows(const LedgerView &view, int offset = 0, int limit = -1) const;
    // Every attempt for the code, oldest first.
    QList<ReceiveAttempt> attempts(const QString &code) const;
    // Codes written whose search index entries are still to be brought up to date, in the
    // background; searches find them all the same. New codes are counted by their rowids, so a
    // code deleted after it was written may still be counted. -1 when it cannot be read.
    int unindexed() const;

Q_SIGNALS:
    // Emitted once, by open() or by the first call that finds the file unusable.
    void turnedOff(const QString &reason);
    // Something was recorded.
    void changed();
    // The same, naming the codes whose rows it added or changed.
    void recorded(const QStringList &codes);
    // Opening a file from an older program goes through every code once (the search index):
    // how far it is, from (0, total) to (total, total). Emitted from within open().
    void migrating(qint64 done, qint64 total);

private:
    // One write waiting for the file, with the time it happened.
    struct Write {
        qint64 at;
        QList<SeenCode> harvest; // a harvest, or else one receive attempt:
        QString code, title, marker;
        ReceiveKind kind = ReceiveKind::Failed;
        bool proven = false;
    };
    // Each tells how it went; their statements have ended when they return.
    ledgersql::SqlResult openFile();
    ledgersql::SqlResult write(const Write &write);
    ledgersql::SqlResult writeHarvest(const QList<SeenCode> &rows, qint64 seen);
    ledgersql::SqlResult writeReceive(const Write &attempt);
    ledgersql::SqlResult writeClaim(const QString &code, const QString &title, bool force, Claim &claim);
    // Posting claims of programs that went without settling them become unknown.
    ledgersql::SqlResult settleAbandonedClaims();
    // Prepares the statement into `kept` unless it is there already.
    ledgersql::SqlResult prepared(std::unique_ptr<QSqlQuery> &kept, const QString &sql);
    void enqueue(Write write);
    void retryLater();
    // A read about many codes or keys at once: `sql` names them as %among and takes `values` for
    // its other parameters; each row gives a key and its value.
    std::optional<QHash<QString, QVariant>> pairsAmong(const QString &sql, QVariantList values,
                                                       const QStringList &among) const;
    // Runs a read and hands each row to take; false when it failed.
    bool select(const QString &sql, const QVariantList &values,
                const std::function<void(const QSqlQuery &)> &take) const;

    QSqlDatabase database() const;
    void turnOff(const QString &reason);
    qint64 now() const;
    void written(int rows);

    QString m_path;
    QString m_connection; // one per ledger: several may be open in one process
    int m_busyTimeoutMs;
    Clock m_clock;
    bool m_on = false;
    bool m_gaveUp = false;
    bool m_opening = false;
    QString m_whyOff;
    std::unique_ptr<LedgerWorker> m_checkpointer;
    std::unique_ptr<LedgerSearchIndexer> m_indexer;
    // The write path's statements, prepared once per connection: preparing costs more than a
    // code's write.
    std::unique_ptr<ledgersql::NativeStatement> m_seen; // run for every code of a harvest
    std::unique_ptr<QSqlQuery> m_tried, m_attempt;
    int m_unsynced = 0;
    QList<Write> m_waiting; // for the file, oldest first
    QTimer m_retry;
    int m_retryMs = kFirstRetryMs;
    int m_claimsLeftUnknown = 0;
    QString m_process; // who claims: this program, as the file names it
};
