#pragma once

#include "cli/arguments.h"
#include "cli/rows.h"
#include "harvest/harvestrun.h"
#include "ledger/ledger.h"
#include "session/recorder.h"
#include "web/sites.h"
#include "web/webclient.h"

#include <QObject>
#include <QPointer>

#include <cstdio>
#include <memory>

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

// The command's work: the order's pages harvested one after another (each run resolving its
// rows in parallel, as in the window), rows printed as they resolve, each completed run
// recorded in the ledger in one transaction. Ends with finished(exit status).
class HarvestCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestCommand)

public:
    enum Status { Read = 0, Unreadable = 1, BadArguments = 2, Interrupted = 130, OutputGone = 141 };
    // How long a write waits for a ledger that another program holds, before it is kept for later.
    static constexpr int kLedgerBusyTimeoutMs = 5000;

    HarvestCommand(HarvestOrder order, SiteAddresses sites, bool progressOnTerminal,
                   QObject *parent = nullptr);
    // Cancels the run in flight, which then deletes itself.
    ~HarvestCommand() override;

    void start();
    // SIGINT or SIGTERM: the run in flight is cancelled (its page is not recorded).
    void interrupt();

Q_SIGNALS:
    void finished(int status);

private:
    void openLedger();
    void startNext();
    void runEnded(HarvestRun::End end);
    void printRow(const HarvestedRow &row);
    // The ledger had not seen the row's code before the command started.
    bool isNew(const HarvestedRow &row) const;
    // stdout cannot be written (its reader went away): the command stops.
    void outputFailed();
    void log(const QString &line);
    void showProgress();
    void stop(Status status);
    QString label() const;

    const HarvestOrder m_order;
    const SiteAddresses m_sites;
    WebClient m_web;
    std::unique_ptr<Ledger> m_ledger;
    ProgressLine m_progress;
    QPointer<HarvestRun> m_run;
    qsizetype m_step = 0;  // which of the order's runs is in flight
    RunRequest m_request;  // of the run in flight
    QDateTime m_startedAt; // codes the ledger first saw from then on are new to the command
    std::unique_ptr<HarvestRecorder> m_recorder; // its rows for the ledger
    int m_total = 0;                             // runs in the order
    int m_done = 0;                              // this run's rows printed
    int m_rows = 0;                              // of how many
    Status m_status = Read;
    bool m_stopped = false;
    bool m_outputGone = false;
};
