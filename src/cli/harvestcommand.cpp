#include "cli/harvestcommand.h"

#include "session/recorder.h"

#include <QTimer>

#include <cerrno>
#include <cstring>

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

HarvestCommand::HarvestCommand(HarvestOrder order, SiteAddresses sites, bool progressOnTerminal,
                               QObject *parent)
    : QObject(parent)
    , m_order(std::move(order))
    , m_sites(std::move(sites))
    , m_progress(progressOnTerminal)
    , m_request(runRequest(m_order, 0)) {}

HarvestCommand::~HarvestCommand() {
    if (m_run)
        m_run->cancel();
    m_progress.clear();
}

void HarvestCommand::start() {
    m_startedAt = QDateTime::currentDateTimeUtc();
    if (m_order.ledger)
        openLedger();
    m_recorder = std::make_unique<HarvestRecorder>(m_ledger.get(), HarvestRecorder::Rule::WholeRuns);
    if (m_order.header && !m_order.json && !m_progress.writeLine(stdout, tsvHeader())) {
        outputFailed();
        return;
    }
    m_total = m_order.harvest->isSearch() ? 1 : int(m_order.pages.size());
    startNext();
}

void HarvestCommand::openLedger() {
    // Without a window to keep answering, a busy file is worth waiting for a while.
    m_ledger = std::make_unique<Ledger>(Ledger::defaultPath(), nullptr, kLedgerBusyTimeoutMs);
    // Said once, whether the file cannot be opened now or fails later; the harvest goes on.
    connect(m_ledger.get(), &Ledger::turnedOff, this, [this](const QString &reason) {
        log(u"giftvane-harvest: 接收记录已关闭, the ledger is off and records nothing: " + reason);
    });
    m_ledger->open();
}

void HarvestCommand::interrupt() {
    stop(Interrupted);
}

QString HarvestCommand::label() const {
    if (m_order.harvest->isSearch())
        return u"搜索[" + m_order.keyword + u"]";
    return u"第" + QString::number(m_request.page) + u"页";
}

void HarvestCommand::startNext() {
    if (m_stopped)
        return;
    if (m_step == m_total)
        return stop(m_status);
    m_request = runRequest(m_order, m_order.harvest->isSearch() ? 0 : m_order.pages[m_step]);
    m_done = m_rows = 0;

    auto *run = new HarvestRun(m_web, m_sites, m_request);
    run->setParallelism(m_order.requestsPerHost);
    run->setKnownCodes(knownCodesOf(m_ledger.get()));
    // The window's status bar texts are what the progress line stands for; its log lines, and
    // a search that found nothing, are said on stderr whatever it is.
    connect(run, &HarvestRun::logLine, this, [this](const QString &line) { log(label() + u": " + line); });
    // Counted by rows printed: the run's own bar counts the listing, then the resolution.
    connect(run, &HarvestRun::progressRange, this, [this](int, int maximum) {
        m_rows = maximum;
        showProgress();
    });
    connect(run, &HarvestRun::rowResolved, this, &HarvestCommand::printRow);
    connect(run, &HarvestRun::finished, this, &HarvestCommand::runEnded);
    m_run = run;
    showProgress();
    run->start();
}

void HarvestCommand::runEnded(HarvestRun::End end) {
    // A page not read, or a site given up for not answering: the remaining pages are harvested
    // all the same, and the command says it did not read everything.
    if (end == HarvestRun::End::Unreadable || (m_run && !m_run->hostsDown().isEmpty()))
        m_status = Unreadable;
    if (end == HarvestRun::End::NothingFound)
        log(label() + QStringLiteral(": 抱歉!未找到相关资源!"));
    m_recorder->ended(end);
    m_run = nullptr; // it deletes itself
    ++m_step;
    QTimer::singleShot(0, this, &HarvestCommand::startNext);
}

void HarvestCommand::printRow(const HarvestedRow &row) {
    if (m_stopped || m_outputGone)
        return;
    // The printed row shows the mark as the window does, and says in JSON whether it is known;
    // the ledger keeps a mark only where the gift page was read.
    const QByteArray line = m_order.json ? jsonLine(row, m_request) : tsvLine(row, m_request);
    m_recorder->add(row, m_request);
    if (m_order.onlyNew && !isNew(row)) {
        ++m_done;
        showProgress();
        return;
    }
    ++m_done;
    showProgress();
    if (!m_progress.writeLine(stdout, line))
        outputFailed();
}

bool HarvestCommand::isNew(const HarvestedRow &row) const {
    if (row.code.isEmpty())
        return false;
    // A ledger that cannot be read cannot tell: the row is written rather than lost.
    if (!m_ledger || !m_ledger->isOn())
        return true;
    const std::optional<QHash<QString, QDateTime>> seen = m_ledger->firstSeenAmong({row.code});
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
    // Called from inside the run's signal: the run is cancelled on the next turn, not under
    // its own feet.
    QTimer::singleShot(0, this, [this, error] { stop(error == EPIPE ? OutputGone : Unreadable); });
}

void HarvestCommand::log(const QString &line) {
    m_progress.writeLine(stderr, line.toUtf8() + '\n');
}

void HarvestCommand::showProgress() {
    QString text = label();
    if (m_total > 1)
        text += u" (" + QString::number(m_step + 1) + u'/' + QString::number(m_total) + u')';
    if (m_rows > 0)
        text += u' ' + QString::number(m_done) + u'/' + QString::number(m_rows);
    m_progress.show(text);
}

void HarvestCommand::stop(Status status) {
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_run)
        m_run->cancel();
    m_run = nullptr;
    m_progress.clear();
    // What another program kept from the file is tried once more before the command ends.
    if (m_ledger && !m_ledger->flush() && m_ledger->waiting() > 0)
        log(u"giftvane-harvest: 接收记录文件被占用, " + QString::number(m_ledger->waiting()) +
            u" 页未记录, the ledger was busy and " + QString::number(m_ledger->waiting()) +
            u" pages were not recorded: " + m_ledger->path());
    Q_EMIT finished(status);
}
