#include "harvest/harvestrun.h"

#include "giftlist/giftlistmodel.h"
#include "harvest/cutters.h"
#include "web/clouddisk.h"
#include "web/sharesite.h"
#include "web/webclient.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

const QString kResolvingText = QStringLiteral("资源获取完毕,正在获取礼包码..");
const QString kResolvedText = QStringLiteral("礼包码获取完毕..");
const QString kUnreadableText = QStringLiteral("页面获取失败,请稍后再试");
const QString kTooManyText = QStringLiteral("本页资源过多,只取前1000个");

} // namespace

// Slots for the requests to one host: at most `capacity` in flight. Rows that wait for one get
// it in the order they asked, which is list order for the listing site.
class HostSlots {
public:
    explicit HostSlots(int capacity)
        : m_free(capacity) {}

    // True once the caller holds a slot; false when the scope was aborted first.
    QCoro::Task<bool> take(RequestScope &scope) {
        if (m_free > 0) {
            --m_free;
            co_return true;
        }
        co_return co_await RequestScope::Wait(&scope,
                                              [this](QObject *guard, const std::function<void()> &resume) {
                                                  m_waiting.append({guard, resume});
                                              });
    }

    // The holder is done: the first waiter still waiting takes its slot over.
    void give() {
        while (!m_waiting.isEmpty() && !m_waiting.first().guard)
            m_waiting.removeFirst();
        if (m_waiting.isEmpty()) {
            ++m_free;
            return;
        }
        const Waiter next = m_waiting.takeFirst();
        // On the next turn, so that a run of rows that end at once does not nest.
        QTimer::singleShot(0, next.guard, next.resume);
    }

private:
    struct Waiter {
        QPointer<QObject> guard; // gone when the wait ended another way
        std::function<void()> resume;
    };
    int m_free;
    QList<Waiter> m_waiting;
};

HarvestRun::HarvestRun(WebClient &web, SiteAddresses sites, GiftListModel &list, RunRequest request)
    : m_web(web)
    , m_sites(std::move(sites))
    , m_list(&list)
    , m_request(std::move(request)) {}

HarvestRun::~HarvestRun() {
    m_destroying = true;
    cancel();
}

bool HarvestRun::isListingSite() const {
    return m_request.kind == RunKind::ListingPage || m_request.kind == RunKind::ListingSearch;
}

void HarvestRun::start() {
    m_task.emplace(run());
}

void HarvestRun::cancel() {
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_resolving = false; // no signal: a cancelled run says nothing more
    m_scope.abort();
}

void HarvestRun::end() {
    if (!m_destroying)
        deleteLater();
}

void HarvestRun::setResolving(bool resolving) {
    if (m_resolving == resolving)
        return;
    m_resolving = resolving;
    Q_EMIT resolvingChanged(resolving);
}

QCoro::Task<Fetched> HarvestRun::fetchPage() {
    const RunRequest &r = m_request;
    switch (r.kind) {
    case RunKind::ListingPage:
        co_return co_await m_web.OpenUrlDecoded(
            listingsite::listingPageAddress(m_sites.listing, r.section, r.page), &m_scope);
    case RunKind::ListingSearch:
        co_return co_await m_web.OpenUrlDecoded(listingsite::searchAddress(m_sites.listing, r.keyword),
                                                &m_scope);
    case RunKind::SharePage:
        co_return co_await m_web.FetchPageText(sharesite::newResourcePageAddress(m_sites.share, r.page),
                                               &m_scope);
    case RunKind::ShareSearch:
        co_return co_await m_web.FetchPageText(sharesite::searchAddress(m_sites.share, r.keyword), &m_scope);
    }
    co_return Fetched{};
}

QCoro::Task<> HarvestRun::run() {
    const RunRequest &r = m_request;
    switch (r.kind) {
    case RunKind::ListingPage:
    case RunKind::SharePage:
        Q_EMIT statusText(u"正在获取第" + QString::number(r.page) + u"页资源..");
        break;
    case RunKind::ListingSearch:
        Q_EMIT statusText(u"正在进行搜索" + r.keyword + u"相关资源..");
        break;
    case RunKind::ShareSearch:
        Q_EMIT statusText(u"正在搜索[ " + r.keyword + u"]资源..");
        break;
    }
    m_list->clear();

    End early = End::Empty;
    const bool listed = co_await listingPhase(early);
    if (m_cancelled)
        co_return end();
    if (!listed) {
        Q_EMIT finished(early);
        co_return end();
    }

    Q_EMIT statusText(kResolvingText);
    co_await resolveRows();
    if (m_cancelled)
        co_return end();
    Q_EMIT statusText(kResolvedText);
    setResolving(false);
    Q_EMIT finished(End::Complete);
    end();
}

QCoro::Task<bool> HarvestRun::listingPhase(End &early) {
    const Fetched page = co_await fetchPage();
    if (m_cancelled)
        co_return false;
    if (!page.ok()) {
        // A dead site must not look like a slow one.
        early = End::Unreadable;
        Q_EMIT statusText(kUnreadableText);
        Q_EMIT logLine(kUnreadableText);
        co_return false;
    }
    if (m_request.kind == RunKind::ShareSearch && page.text.contains(sharesite::kNoResultText)) {
        Q_EMIT statusText(QStringLiteral("抱歉!未找到相关资源!"));
        Q_EMIT nothingFound();
        co_return false;
    }

    cutters::ListedPage listed;
    switch (m_request.kind) {
    case RunKind::ListingPage:
        listed = cutters::cutListingPage(page.text, m_sites.listing);
        break;
    case RunKind::ListingSearch:
        listed = cutters::cutSearchPage(page.text, m_sites.listing);
        break;
    case RunKind::SharePage:
    case RunKind::ShareSearch:
        listed = cutters::cutSharePage(page.text, m_sites.share);
        break;
    }
    if (listed.truncated)
        Q_EMIT logLine(kTooManyText);

    const auto &rows = listed.rows;
    if (!rows.isEmpty()) // a range of no rows would empty the bar
        Q_EMIT progressRange(0, int(rows.size()));
    // The window gets a turn of its event loop at least every few milliseconds while rows are
    // added, so it keeps answering; a turn per row would repaint the list per row, which is
    // what takes a long page its time.
    QElapsedTimer sinceTurn;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i == 0 || sinceTurn.hasExpired(kRowsSliceMs)) {
            if (!co_await m_scope.nextTurn())
                co_return false;
            sinceTurn.start();
        }
        if (m_cancelled || !m_list)
            co_return false;
        Q_EMIT progressValue(int(i + 1));
        const int row = m_list->AppendGiftRow(rows[i].title, rows[i].size, rows[i].key);
        m_plan.append({m_list->entry(row).id, rows[i].key, rows[i].foreign});
    }
    co_return !m_plan.isEmpty();
}

QCoro::Task<> HarvestRun::resolveRows() {
    m_finishedRows = 0;
    m_listingHost = std::make_unique<HostSlots>(m_parallelism);
    // One request at a time means one for all hosts together.
    if (m_parallelism > 1)
        m_otherHost = std::make_unique<HostSlots>(m_parallelism);
    Q_EMIT progressRange(1, int(m_plan.size()));
    if (isListingSite())
        setResolving(true);
    std::vector<QCoro::Task<>> chains;
    chains.reserve(m_plan.size());
    for (qsizetype place = 0; place < m_plan.size(); ++place)
        chains.push_back(isListingSite() ? resolveListingRow(place) : resolveShareRow(place));
    for (auto &chain : chains)
        co_await chain;
}

int HarvestRun::rowOf(const Planned &row) const {
    return m_cancelled || !m_list ? -1 : m_list->rowOf(row.id);
}

void HarvestRun::rowDone(const Planned &row, bool markKnown) {
    if (m_cancelled)
        return;
    Q_EMIT progressValue(++m_finishedRows);
    if (const int at = rowOf(row); at >= 0) {
        const GiftEntry resolved = m_list->entry(at); // a copy: receivers may change the list
        Q_EMIT rowResolved(resolved, markKnown);
    }
}

QCoro::Task<Fetched> HarvestRun::request(HostSlots &host, qsizetype place,
                                         std::function<QCoro::Task<Fetched>()> make) {
    if (!co_await host.take(m_scope))
        co_return Fetched{};
    // A row removed while it waited gives its slot to the next at once. (No co_await inside a
    // conditional expression: GCC 12 mishandles the temporaries there.)
    Fetched fetched;
    if (rowOf(m_plan[place]) >= 0)
        fetched = co_await make();
    if (!m_cancelled)
        host.give();
    co_return fetched;
}

QCoro::Task<> HarvestRun::resolveListingRow(qsizetype place) {
    const Planned row = m_plan[place];
    if (row.foreign || rowOf(row) < 0)
        co_return rowDone(row, false);
    HostSlots &listing = *m_listingHost;
    HostSlots &cloud = m_otherHost ? *m_otherHost : listing;
    using Size = WebClient::Size;

    // Both listing-site pages of a row go on one slot, one after the other: a row that has its
    // detail page asks for its download page at once, and rows finish in list order.
    if (!co_await listing.take(m_scope))
        co_return; // cancelled
    Fetched detail, download;
    bool downloaded = false;
    if (rowOf(row) >= 0)
        detail = co_await m_web.OpenUrlText(listingsite::detailAddress(m_sites.listing, row.key), &m_scope,
                                            Size::Small);
    // A page harvest skips the download for an empty detail page; a search asks anyway.
    if (rowOf(row) >= 0 && (!detail.text.isEmpty() || m_request.kind == RunKind::ListingSearch)) {
        const QString query = cutters::cutDownloadQuery(detail.text);
        download = co_await m_web.OpenUrlDecoded(listingsite::downloadAddress(m_sites.listing, query),
                                                 &m_scope, Size::Small);
        downloaded = true;
    }
    if (m_cancelled)
        co_return;
    listing.give();
    int at = rowOf(row);
    if (at < 0)
        co_return rowDone(row, false);
    const QString code = downloaded ? cutters::cutGiftCode(download.text) : QString();
    m_list->setCode(at, code);

    const QString giftAddress = clouddisk::giftPageAddress(m_sites.cloudDisk, code);
    const Fetched gift = co_await request(
        cloud, place, [&] { return m_web.FetchPageText(giftAddress, &m_scope, Size::Small); });
    at = rowOf(row);
    if (at >= 0)
        m_list->setMark(at, cutters::giftMark(gift.text)); // unreadable: "√", the cloud disk decides
    rowDone(row, gift.ok());
}

QCoro::Task<> HarvestRun::resolveShareRow(qsizetype place) {
    const Planned row = m_plan[place];
    if (row.foreign || rowOf(row) < 0)
        co_return rowDone(row, false);
    HostSlots &share = m_otherHost ? *m_otherHost : *m_listingHost;
    const Fetched reply = co_await request(share, place, [&] {
        return m_web.PostFormChunk(sharesite::findAddress(m_sites.share), sharesite::findBody(row.key),
                                   &m_scope);
    });
    if (const int at = rowOf(row); at >= 0)
        m_list->setCode(at, cutters::cutGiftCode(reply.text));
    rowDone(row, false);
}
