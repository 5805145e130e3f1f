#pragma once

#include "harvest/harvestrun.h"
#include "ledger/ledger.h"
#include "session/recorder.h"
#include "web/sites.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

class GiftListModel;
class WebClient;

// What a tab's harvests need from the window.
struct HarvestContext {
    WebClient &web;
    SiteAddresses sites;
    int parallelism = HarvestRun::kDefaultParallelism;
    Ledger *ledger = nullptr; // what was seen and received before; none in some tests
};

// One tab's harvests, without its widgets: it owns the tab's run, applies what the run hands
// out to the tab's list, and records the resolved rows in the ledger, one transaction a run.
// The list is written by this tab's run only, whatever tab is current later.
class HarvestController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestController)

public:
    HarvestController(HarvestContext context, GiftListModel &list, QObject *parent = nullptr);
    // Ends the run going on, as stop() does.
    ~HarvestController() override;

    // Clears the list and starts a run; one still going is replaced and writes nothing more.
    void start(const RunRequest &request);
    // Ends the run going on without another signal; what it resolved so far is recorded.
    void stop();
    // The list's row (by its id) was hidden: the run does no more work for it.
    void forget(quint64 listRowId);
    // The code has just been received: its rows say so.
    void markReceived(const QString &code, const QDateTime &when);

    bool isHarvesting() const { return !m_run.isNull(); }
    // A listing-site run is resolving gift codes.
    bool isResolving() const { return m_run && m_run->isResolving(); }
    // The request of the run going on.
    std::optional<RunRequest> current() const;
    HarvestRun *run() const { return m_run; }

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    void progressRange(int minimum, int maximum);
    void progressValue(int value);
    // The run ended by itself (not replaced, not stopped).
    void ended(const RunRequest &request, HarvestRun::End end);

private:
    void listed(const QList<HarvestedRow> &rows);
    void codeFound(RowId row, const QString &code);
    void resolved(const HarvestedRow &row);
    void finished(HarvestRun::End end);
    int listRowOf(RowId row) const;
    void lookUpReceived();

    HarvestContext m_context;
    GiftListModel &m_list;
    QPointer<HarvestRun> m_run;
    QList<quint64> m_listIds;        // the run's rows, by run row id: their list row id
    QHash<quint64, RowId> m_runRows; // and back
    HarvestRecorder m_recorder;      // the run's rows for the ledger, recorded when it ends
    QList<quint64> m_toLookUp;       // resolved list rows not yet looked up in the ledger
    QTimer m_lookUp;
};
