#include "app/harvestcontroller.h"

#include "giftlist/giftlistmodel.h"
#include "session/recorder.h"

HarvestController::HarvestController(HarvestContext context, GiftListModel &list, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_list(list)
    , m_recorder(m_context.ledger, HarvestRecorder::Rule::WhateverResolved) {
    // Which rows were received before is asked for many rows at once.
    m_lookUp.setSingleShot(true);
    m_lookUp.setInterval(100);
    connect(&m_lookUp, &QTimer::timeout, this, &HarvestController::lookUpReceived);
}

HarvestController::~HarvestController() {
    stop();
}

std::optional<RunRequest> HarvestController::current() const {
    return m_run ? std::optional(m_run->request()) : std::nullopt;
}

void HarvestController::start(const RunRequest &request) {
    stop();
    m_list.clear();
    m_listIds.clear();
    m_runRows.clear();

    auto *run = new HarvestRun(m_context.web, m_context.sites, request);
    run->setParallelism(m_context.parallelism);
    run->setKnownCodes(knownCodesOf(m_context.ledger));
    connect(run, &HarvestRun::statusText, this, &HarvestController::statusText);
    connect(run, &HarvestRun::logLine, this, &HarvestController::logLine);
    connect(run, &HarvestRun::progressRange, this, &HarvestController::progressRange);
    connect(run, &HarvestRun::progressValue, this, &HarvestController::progressValue);
    connect(run, &HarvestRun::rowsListed, this, &HarvestController::listed);
    connect(run, &HarvestRun::codeFound, this, &HarvestController::codeFound);
    connect(run, &HarvestRun::rowResolved, this, &HarvestController::resolved);
    connect(run, &HarvestRun::finished, this, &HarvestController::finished);
    m_run = run;
    run->start();
}

void HarvestController::stop() {
    if (HarvestRun *run = m_run) {
        run->disconnect(this);
        run->cancel(); // it deletes itself
        m_run = nullptr;
    }
    // One transaction for a run, also for one replaced or cut short by the window closing.
    lookUpReceived();
    m_recorder.stopped();
}

void HarvestController::forget(quint64 listRowId) {
    if (m_run && m_runRows.contains(listRowId))
        m_run->forget(m_runRows.value(listRowId));
}

void HarvestController::listed(const QList<HarvestedRow> &rows) {
    for (const HarvestedRow &row : rows) {
        const quint64 id = m_list.entry(m_list.AppendGiftRow(row.title, row.size, row.key)).id;
        m_runRows.insert(id, RowId(m_listIds.size()));
        m_listIds.append(id);
    }
}

int HarvestController::listRowOf(RowId row) const {
    return row >= 0 && row < m_listIds.size() ? m_list.rowOf(m_listIds[row]) : -1;
}

void HarvestController::codeFound(RowId row, const QString &code) {
    if (const int at = listRowOf(row); at >= 0)
        m_list.setCode(at, code);
}

void HarvestController::resolved(const HarvestedRow &row) {
    const int at = listRowOf(row.id);
    if (at < 0)
        return;
    m_list.setCode(at, row.code);
    if (m_run && m_run->request().kind->isListingSite())
        m_list.setMark(at, row.mark);
    if (!m_context.ledger || !m_run)
        return;
    m_recorder.add(row, m_run->request());
    if (!row.code.isEmpty()) {
        m_toLookUp.append(m_listIds[row.id]);
        if (!m_lookUp.isActive())
            m_lookUp.start();
    }
}

void HarvestController::finished(HarvestRun::End end) {
    const RunRequest request = m_run->request();
    m_run = nullptr; // it deletes itself
    lookUpReceived();
    m_recorder.ended(end);
    Q_EMIT ended(request, end);
}

void HarvestController::lookUpReceived() {
    m_lookUp.stop();
    QStringList codes;
    QList<int> rows;
    for (const quint64 id : std::as_const(m_toLookUp)) {
        if (const int at = m_list.rowOf(id); at >= 0) {
            rows.append(at);
            codes.append(m_list.entry(at).code);
        }
    }
    m_toLookUp.clear();
    if (!m_context.ledger || codes.isEmpty())
        return;
    const QHash<QString, QDateTime> received = m_context.ledger->receivedAmong(codes);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (received.contains(codes[i]))
            m_list.setReceivedAt(rows[i], received.value(codes[i]));
    }
}

void HarvestController::markReceived(const QString &code, const QDateTime &when) {
    if (code.isEmpty())
        return;
    for (int row = 0; row < m_list.rowCount(); ++row) {
        if (m_list.entry(row).code == code)
            m_list.setReceivedAt(row, when);
    }
}
