#pragma once

#include "cli/arguments.h"
#include "cli/rows.h"
#include "harvest/harvestrun.h"
#include "ledger/ledger.h"
#include "session/giftsession.h"
#include "session/recorder.h"
#include "web/sites.h"
#include "web/webclient.h"

#include <QObject>
#include <QPointer>
#include <QSet>

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>

// The progress line on a terminal: drawn over itself with \r, cleared before anything else
// is written to the terminal and drawn again after it. Does nothing when stderr is no
// terminal, so a script's stderr holds only what it should read.
class ProgressLine {
public:
    explicit ProgressLine(bool shown)
        : m_shown(shown) {}
    void show(const QString &text);
    void clear();
    // Writes a line to `stream` without breaking the progress line.
    bool writeLine(std::FILE *stream, const QByteArray &line);

private:
    void draw();
    bool m_shown;
    bool m_drawn = false;
    QString m_text;
};

// The command's work: the order's pages harvested in turn, each by its own run resolving its rows
// in parallel as in the window; the next page is listed while one resolves, all runs queueing on
// one line per host. Rows are printed as they resolve, page after page in the order's order,
// and each completed page is recorded in the ledger in one transaction. Ends with
// finished(exit status).
class HarvestCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestCommand)

public:
    enum Status { Read = 0, Unreadable = 1, BadArguments = 2, Interrupted = 130, OutputGone = 141 };
    // How long a write waits for a ledger that another program holds, before it is kept for later.
    static constexpr int kLedgerBusyTimeoutMs = 5000;

    // The session must outlive the command.
    HarvestCommand(HarvestOrder order, GiftSession &session, bool progressOnTerminal,
                   QObject *parent = nullptr);
    // Cancels the run in flight, which then deletes itself.
    ~HarvestCommand() override;

    void start();
    // SIGINT or SIGTERM: the run in flight is cancelled (its page is not recorded).
    void interrupt();

Q_SIGNALS:
    void finished(int status);

private:
    // One page of the order (or the search), from the start of its run until its turn is over.
    struct Page {
        RunRequest request;
        QPointer<HarvestRun> run;
        std::unique_ptr<HarvestRecorder> recorder; // its rows for the ledger
        QList<HarvestedRow> held;                  // resolved before the page's turn
        QStringList heldLines;                     // said before the page's turn
        std::optional<HarvestRun::End> end;        // once its run has ended
        bool listed = false;                       // read, or its run has ended
        bool hostsDown = false;
        int rows = 0;    // of the page
        int printed = 0; // of them, printed or passed over
    };

    void listNext();
    void startPage(int page);
    void pageEnded(Page *page, HarvestRun::End end);
    void nextTurn();
    bool hasTurn(const Page *page) const { return !m_pages.empty() && m_pages.front().get() == page; }
    void say(Page *page, const QString &line);
    void rowResolved(Page *page, const HarvestedRow &row);
    void printRow(Page &page, const HarvestedRow &row);
    // The ledger had not seen the row's code before the command started.
    bool isNew(const HarvestedRow &row) const;
    // stdout cannot be written (its reader went away): the command stops.
    void outputFailed();
    void log(const QString &line);
    void showProgress();
    void stop(Status status);
    QString label(const RunRequest &request) const;

    const HarvestOrder m_order;
    GiftSession &m_session;
    ProgressLine m_progress;
    std::shared_ptr<HostQueues> m_hosts;       // shared by all the pages
    std::deque<std::unique_ptr<Page>> m_pages; // the page whose turn it is, and the one listed next
    int m_step = 0;                            // the order's run whose turn it is
    int m_started = 0;                         // the order's runs started
    int m_total = 0;                           // runs in the order
    QDateTime m_startedAt;      // codes the ledger first saw from then on are new to the command
    QSet<QString> m_newPrinted; // with --new: a code listed on two pages is printed once
    Status m_status = Read;
    bool m_stopped = false;
    bool m_outputGone = false;
};
