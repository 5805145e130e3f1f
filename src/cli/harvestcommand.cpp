#include "cli/harvestcommand.h"

#include "session/recorder.h"

#include <QTimer>

#include <cerrno>
#include <cstring>
#include <utility>

using namespace harvestcommand;

// --- The progress line ----------------------------------------------------------------------

namespace {

// Back to the start of the line and clear it.
constexpr char kErase[] = "\r\x1b[K";

bool write(std::FILE *stream, const QByteArray &bytes) {
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()) &&
           std::fflush(stream) == 0;
}

} // namespace

void ProgressLine::show(const QString &text) {
    if (!m_shown)
        return;
    m_text = text;
    draw();
}

void ProgressLine::draw() {
    write(stderr, kErase + m_text.toUtf8());
    m_drawn = true;
}

void ProgressLine::clear() {
    if (m_drawn)
        write(stderr, kErase);
    m_drawn = false;
    m_text.clear();
}

bool ProgressLine::writeLine(std::FILE *stream, const QByteArray &line) {
    // stdout may be the same terminal: the line must not land behind the progress text.
    const bool redraw = m_drawn;
    if (redraw)
        write(stderr, kErase);
    const bool written = write(stream, line);
    const int error = errno;
    if (redraw)
        draw();
    errno = error;
    return written;
}

// --- The command ------------------------------------------------------------------------------

HarvestCommand::HarvestCommand(HarvestOrder order, GiftSession &session, bool progressOnTerminal,
                               QObject *parent)
    : QObject(parent)
    , m_order(std::move(order))
    , m_session(session)
    , m_progress(progressOnTerminal) {
    // Said once, whether the file cannot be opened now or fails later; the harvest goes on.
    connect(&m_session, &GiftSession::ledgerOff, this, [this](const QString &reason) {
        log(u"giftvane-harvest: 接收记录已关闭, the ledger is off and records nothing: " + reason);
    });
}

HarvestCommand::~HarvestCommand() {
    for (const auto &page : m_pages) {
        if (page->run)
            page->run->cancel();
    }
    m_progress.clear();
}

void HarvestCommand::start() {
    m_startedAt = QDateTime::currentDateTimeUtc();
    m_session.open();
    if (m_order.header && !m_order.json && !m_progress.writeLine(stdout, tsvHeader())) {
        outputFailed();
        return;
    }
    m_total = m_order.harvest->isSearch() ? 1 : int(m_order.pages.size());
    m_hosts = std::make_shared<HostQueues>(m_order.requestsPerHost);
    listNext();
}

void HarvestCommand::interrupt() {
    stop(Interrupted);
}

QString HarvestCommand::label(const RunRequest &request) const {
    if (m_order.harvest->isSearch())
        return u"搜索[" + m_order.keyword + u"]";
    return u"第" + QString::number(request.page) + u"页";
}

void HarvestCommand::listNext() {
    if (m_stopped)
        return;
    if (m_pages.empty() && m_started == m_total)
        return stop(m_status);
    // One page ahead at most, and only once the one before it has been read: the host queues
    // stay full, and a page that hangs holds back no more than the page after it.
    if (m_started == m_total || m_pages.size() >= 2 || (!m_pages.empty() && !m_pages.back()->listed))
        return;
    startPage(m_order.harvest->isSearch() ? 0 : m_order.pages[m_started]);
}

void HarvestCommand::startPage(int number) {
    ++m_started;
    auto owned = std::make_unique<Page>();
    Page *page = owned.get();
    page->request = runRequest(m_order, number);
    page->recorder = std::make_unique<HarvestRecorder>(m_session.ledger(), HarvestRecorder::Rule::WholeRuns);
    m_pages.push_back(std::move(owned));

    auto *run = new HarvestRun(m_session.web(), m_session.sites(), page->request);
    run->shareHosts(m_hosts);
    run->setKnownCodes(knownCodesOf(m_session.ledger()));
    // The window's status bar texts are what the progress line stands for; its log lines, and
    // a search that found nothing, are said on stderr whatever it is.
    connect(run, &HarvestRun::logLine, this,
            [this, page](const QString &line) { say(page, label(page->request) + u": " + line); });
    // Counted by rows printed: the run's own bar counts the listing, then the resolution.
    connect(run, &HarvestRun::progressRange, this, [this, page](int, int maximum) {
        page->rows = maximum;
        if (hasTurn(page))
            showProgress();
    });
    connect(run, &HarvestRun::listed, this, [this, page] {
        page->listed = true;
        listNext();
    });
    connect(run, &HarvestRun::rowResolved, this,
            [this, page](const HarvestedRow &row) { rowResolved(page, row); });
    connect(run, &HarvestRun::finished, this, [this, page](HarvestRun::End end) { pageEnded(page, end); });
    page->run = run;
    if (hasTurn(page))
        showProgress();
    run->start();
}

void HarvestCommand::say(Page *page, const QString &line) {
    if (hasTurn(page))
        log(line);
    else
        page->heldLines.append(line);
}

void HarvestCommand::rowResolved(Page *page, const HarvestedRow &row) {
    if (hasTurn(page))
        printRow(*page, row);
    else
        page->held.append(row);
}

void HarvestCommand::pageEnded(Page *page, HarvestRun::End end) {
    page->end = end;
    page->listed = true;
    page->hostsDown = page->run && !page->run->hostsDown().isEmpty();
    page->run = nullptr; // it deletes itself
    nextTurn();
}

void HarvestCommand::nextTurn() {
    while (!m_stopped && !m_pages.empty() && m_pages.front()->end) {
        const Page &ended = *m_pages.front();
        // A page not read, or a site given up for not answering: the remaining pages are
        // harvested all the same, and the command says it did not read everything.
        if (*ended.end == HarvestRun::End::Unreadable || ended.hostsDown)
            m_status = Unreadable;
        if (*ended.end == HarvestRun::End::NothingFound)
            log(label(ended.request) + QStringLiteral(": 抱歉!未找到相关资源!"));
        ended.recorder->ended(*ended.end);
        m_pages.pop_front();
        ++m_step;
        if (m_pages.empty())
            break;
        // The next page's turn: what it said and resolved meanwhile goes out first.
        Page &next = *m_pages.front();
        showProgress();
        for (const QString &line : std::exchange(next.heldLines, {}))
            log(line);
        for (const HarvestedRow &row : std::exchange(next.held, {}))
            printRow(next, row);
    }
    // Called from inside a run's signal: the next run starts on the next turn, not under its
    // feet.
    QTimer::singleShot(0, this, &HarvestCommand::listNext);
}

void HarvestCommand::printRow(Page &page, const HarvestedRow &row) {
    if (m_stopped || m_outputGone)
        return;
    // The printed row shows the mark as the window does, and says in JSON whether it is known;
    // the ledger keeps a mark only where the gift page was read.
    page.recorder->add(row, page.request);
    ++page.printed;
    showProgress();
    // A code that moves to the next page while the pages are read is still new only once.
    if (m_order.onlyNew && (!isNew(row) || m_newPrinted.contains(row.code)))
        return;
    if (m_order.onlyNew)
        m_newPrinted.insert(row.code);
    const QByteArray line = m_order.json ? jsonLine(row, page.request) : tsvLine(row, page.request);
    if (!m_progress.writeLine(stdout, line))
        outputFailed();
}

bool HarvestCommand::isNew(const HarvestedRow &row) const {
    if (row.code.isEmpty())
        return false;
    // A ledger that cannot be read cannot tell: the row is written rather than lost.
    const Ledger *ledger = m_session.ledger();
    if (!ledger || !ledger->isOn())
        return true;
    const std::optional<QHash<QString, QDateTime>> seen = ledger->firstSeenAmong({row.code});
    const QDateTime first = seen ? seen->value(row.code) : QDateTime();
    return !first.isValid() || first >= m_startedAt;
}

void HarvestCommand::outputFailed() {
    const int error = errno;
    if (m_stopped || m_outputGone)
        return;
    m_outputGone = true;
    if (error != EPIPE)
        log(u"giftvane-harvest: cannot write the rows: " + QString::fromLocal8Bit(std::strerror(error)));
    // Called from inside a run's signal: the runs are cancelled on the next turn, not under
    // their own feet.
    QTimer::singleShot(0, this, [this, error] { stop(error == EPIPE ? OutputGone : Unreadable); });
}

void HarvestCommand::log(const QString &line) {
    m_progress.writeLine(stderr, line.toUtf8() + '\n');
}

void HarvestCommand::showProgress() {
    if (m_pages.empty())
        return;
    const Page &page = *m_pages.front();
    QString text = label(page.request);
    if (m_total > 1)
        text += u" (" + QString::number(m_step + 1) + u'/' + QString::number(m_total) + u')';
    if (page.rows > 0)
        text += u' ' + QString::number(page.printed) + u'/' + QString::number(page.rows);
    m_progress.show(text);
}

void HarvestCommand::stop(Status status) {
    if (m_stopped)
        return;
    m_stopped = true;
    // Pages cut short are not recorded.
    for (const auto &page : m_pages) {
        if (page->run)
            page->run->cancel();
    }
    m_pages.clear();
    m_progress.clear();
    // What another program kept from the file is tried once more before the command ends.
    if (Ledger *ledger = m_session.ledger(); ledger && !ledger->flush() && ledger->waiting() > 0)
        log(u"giftvane-harvest: 接收记录文件被占用, " + QString::number(ledger->waiting()) +
            u" 页未记录, the ledger was busy and " + QString::number(ledger->waiting()) +
            u" pages were not recorded: " + ledger->path());
    Q_EMIT finished(status);
}
