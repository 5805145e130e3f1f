#include "harvest/harvestrun.h"

#include "harvest/cutters.h"
#include "job/slots.h"
#include "web/clouddisk.h"
#include "web/sharesite.h"
#include "web/webclient.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

namespace {

const QString kResolvingText = QStringLiteral("资源获取完毕,正在获取礼包码..");
const QString kResolvedText = QStringLiteral("礼包码获取完毕..");
const QString kUnreadableText = QStringLiteral("页面获取失败,请稍后再试");
const QString kTooManyText = QStringLiteral("本页资源过多,只取前1000个");
const QString kNothingFoundText = QStringLiteral("抱歉!未找到相关资源!");
const QString kCloudDiskDownText = QStringLiteral("115网盘无响应,本次不再等待");
const QString kSiteDownText = QStringLiteral("站点无响应,本次不再等待");

} // namespace

HostQueues::HostQueues(int requestsPerHost)
    : m_listing(std::make_shared<Slots>(qMax(1, requestsPerHost))) {
    const bool oneAtATime = requestsPerHost <= 1;
    m_share = oneAtATime ? m_listing : std::make_shared<Slots>(requestsPerHost);
    m_cloudDisk = oneAtATime ? m_listing : std::make_shared<Slots>(requestsPerHost);
}

HarvestRun::HarvestRun(WebClient &web, SiteAddresses sites, RunRequest request)
    : m_web(web)
    , m_sites(std::move(sites))
    , m_request(std::move(request)) {}

HarvestRun::~HarvestRun() = default;

void HarvestRun::forget(RowId row) {
    if (row >= 0 && row < m_forgotten.size())
        m_forgotten[row] = true;
}

void HarvestRun::setResolving(bool resolving) {
    if (m_resolving == resolving)
        return;
    m_resolving = resolving;
    Q_EMIT resolvingChanged(resolving);
}

QCoro::Task<Fetched> HarvestRun::fetchPage() {
    const RunRequest &r = m_request;
    const HarvestKind &kind = *r.kind;
    switch (kind.run) {
    case RunKind::ListingPage:
        co_return co_await m_web.OpenUrlDecoded(
            listingsite::listingPageAddress(m_sites.listing, kind.section, r.page), &scope(),
            WebClient::Size::Page, r.ifChanged);
    case RunKind::ListingSearch:
        co_return co_await m_web.OpenUrlDecoded(listingsite::searchAddress(m_sites.listing, r.keyword),
                                                &scope(), WebClient::Size::Page, r.ifChanged);
    case RunKind::SharePage:
        co_return co_await m_web.FetchPageText(sharesite::newResourcePageAddress(m_sites.share, r.page),
                                               &scope(), WebClient::Size::Page, r.ifChanged);
    case RunKind::ShareSearch:
        co_return co_await m_web.FetchPageText(sharesite::searchAddress(m_sites.share, r.keyword), &scope(),
                                               WebClient::Size::Page, r.ifChanged);
    }
    co_return Fetched{};
}

QCoro::Task<> HarvestRun::work() {
    const RunRequest &r = m_request;
    if (!m_hosts)
        m_hosts = std::make_shared<HostQueues>(m_parallelism);
    // A host that keeps timing out is given up for the rest of the run, said once: the rows
    // that need it end at once instead of each waiting out its deadline.
    scope().watchHosts();
    connect(&scope(), &RequestScope::hostDown, this, [this](const QString &host) {
        m_hostsDown.append(host);
        Q_EMIT logLine(host == RequestScope::hostOf(QUrl(m_sites.cloudDisk)) ? kCloudDiskDownText
                                                                             : kSiteDownText);
    });
    switch (r.kind->run) {
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

    const End early = co_await listingPhase();
    if (isCancelled())
        co_return;
    if (m_rows.isEmpty())
        co_return finish(&HarvestRun::finished, early);

    Q_EMIT listed();
    if (isCancelled())
        co_return;
    Q_EMIT statusText(kResolvingText);
    co_await resolveRows();
    if (isCancelled())
        co_return;
    Q_EMIT statusText(kResolvedText);
    setResolving(false);
    finish(&HarvestRun::finished, End::Complete);
}

QCoro::Task<HarvestRun::End> HarvestRun::listingPhase() {
    // The page goes ahead of rows that wait for its host: its own rows keep the host busy later.
    Slots &host = m_request.kind->isListingSite() ? m_hosts->listing() : m_hosts->share();
    if (!co_await host.take(scope(), Slots::Place::First))
        co_return End::Empty;
    const Fetched page = co_await fetchPage();
    if (isCancelled())
        co_return End::Empty;
    host.give();
    m_pageValidators = page.validators();
    m_pageRetryAfter = page.retryAfter;
    if (page.notModified() && !m_request.ifChanged.isEmpty())
        co_return End::NotModified;
    if (!page.ok()) {
        // "Not modified" is no answer to a request that asked nothing of the kind.
        m_pageFailure = page.notModified() ? QStringLiteral("HTTP 304") : page.reason();
        // A dead site must not look like a slow one; the log says why.
        Q_EMIT statusText(kUnreadableText);
        Q_EMIT logLine(kUnreadableText + u" (" + m_pageFailure + u")");
        co_return End::Unreadable;
    }
    if (m_request.kind->run == RunKind::ShareSearch && page.text.contains(sharesite::kNoResultText)) {
        Q_EMIT statusText(kNothingFoundText);
        co_return End::NothingFound;
    }

    cutters::ListedPage listed;
    switch (m_request.kind->run) {
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
    // A listing-site search without hits says so, as the share site's does, rather than seeming
    // to search on.
    if (m_request.kind->run == RunKind::ListingSearch && listed.rows.isEmpty())
        Q_EMIT statusText(kNothingFoundText);

    const auto &resources = listed.rows;
    if (!resources.isEmpty()) // a range of no rows would empty the bar
        Q_EMIT progressRange(0, int(resources.size()));
    // The window gets a turn of its event loop at least every few milliseconds while rows are
    // listed, so it keeps answering; a turn per row would repaint the list per row, which is
    // what takes a long page its time.
    QElapsedTimer sinceTurn;
    QList<HarvestedRow> slice;
    for (qsizetype i = 0; i < resources.size(); ++i) {
        if (i == 0 || sinceTurn.hasExpired(kRowsSliceMs)) {
            if (!slice.isEmpty()) {
                Q_EMIT rowsListed(slice);
                slice.clear();
            }
            if (!co_await scope().nextTurn())
                co_return End::Empty;
            sinceTurn.start();
        }
        const cutters::ListedResource &resource = resources[i];
        m_rows.append({RowId(i),
                       resource.title,
                       resource.size,
                       resource.key,
                       {},
                       {},
                       false,
                       resource.sizeWritten.isEmpty() ? resource.size : resource.sizeWritten});
        m_foreign.append(resource.foreign);
        m_forgotten.append(false);
        slice.append(m_rows.last());
        Q_EMIT progressValue(int(i + 1));
    }
    if (!slice.isEmpty())
        Q_EMIT rowsListed(slice);
    co_return End::Empty;
}

QCoro::Task<> HarvestRun::resolveRows() {
    m_finishedRows = 0;
    Q_EMIT progressRange(1, int(m_rows.size()));
    const bool listingSite = m_request.kind->isListingSite();
    if (listingSite)
        setResolving(true);
    if (listingSite && m_knownCodes) {
        QStringList keys;
        for (RowId row = 0; row < m_rows.size(); ++row) {
            if (!m_foreign[row] && !m_rows[row].key.isEmpty())
                keys.append(m_rows[row].key);
        }
        m_known = m_knownCodes(m_request.kind->ledgerSite.toString(), keys);
    }
    std::vector<QCoro::Task<>> chains;
    chains.reserve(m_rows.size());
    for (RowId row = 0; row < m_rows.size(); ++row)
        chains.push_back(listingSite ? resolveListingRow(row) : resolveShareRow(row));
    for (auto &chain : chains)
        co_await chain;
}

void HarvestRun::rowDone(RowId row) {
    if (isCancelled())
        return;
    Q_EMIT progressValue(++m_finishedRows);
    if (isLive(row))
        Q_EMIT rowResolved(m_rows[row]);
}

QCoro::Task<Fetched> HarvestRun::request(Slots &host, RowId row, std::function<QCoro::Task<Fetched>()> make) {
    if (!co_await host.take(scope()))
        co_return Fetched{};
    // A row forgotten while it waited gives its slot to the next at once. (No co_await inside a
    // conditional expression: GCC 12 mishandles the temporaries there.)
    Fetched fetched;
    if (isLive(row))
        fetched = co_await make();
    if (!isCancelled())
        host.give();
    co_return fetched;
}

QCoro::Task<> HarvestRun::resolveListingRow(RowId row) {
    if (m_foreign[row] || !isLive(row))
        co_return rowDone(row);
    Slots &listing = m_hosts->listing();
    Slots &cloud = m_hosts->cloudDisk();
    using Size = WebClient::Size;

    // A code found before for this resource is taken as it is if its gift page says it is valid.
    if (const QString known = m_known.value(m_rows[row].key); !known.isEmpty()) {
        const QString knownAddress = clouddisk::giftPageAddress(m_sites.cloudDisk, known);
        const Fetched gift = co_await request(
            cloud, row, [&] { return m_web.FetchPageText(knownAddress, &scope(), Size::Small); });
        if (isCancelled())
            co_return;
        if (!isLive(row))
            co_return rowDone(row);
        if (gift.ok() && cutters::giftMark(gift.text) == clouddisk::kValidMark) {
            m_rows[row].code = known;
            Q_EMIT codeFound(row, known);
            m_rows[row].mark = clouddisk::kValidMark.toString();
            m_rows[row].markKnown = true;
            co_return rowDone(row);
        }
    }

    // The detail and the download page each take their own turn on the listing host: a row
    // queues again for its download page, so no slot idles between a row's two requests.
    const QString detailAddress = listingsite::detailAddress(m_sites.listing, m_rows[row].key);
    const Fetched detail = co_await request(
        listing, row, [&] { return m_web.OpenUrlText(detailAddress, &scope(), Size::Small); });
    if (isCancelled())
        co_return;
    // A page harvest skips the download for an empty detail page; a search asks anyway.
    const bool downloaded =
        isLive(row) && (!detail.text.isEmpty() || m_request.kind->run == RunKind::ListingSearch);
    Fetched download;
    if (downloaded) {
        const QString downloadAddress =
            listingsite::downloadAddress(m_sites.listing, cutters::cutDownloadQuery(detail.text));
        download = co_await request(
            listing, row, [&] { return m_web.OpenUrlDecoded(downloadAddress, &scope(), Size::Small); });
        if (isCancelled())
            co_return;
    }
    if (!isLive(row))
        co_return rowDone(row);
    const QString code = downloaded ? cutters::cutGiftCode(download.text) : QString();
    m_rows[row].code = code;
    Q_EMIT codeFound(row, code);

    const QString giftAddress = clouddisk::giftPageAddress(m_sites.cloudDisk, code);
    const Fetched gift =
        co_await request(cloud, row, [&] { return m_web.FetchPageText(giftAddress, &scope(), Size::Small); });
    if (isCancelled())
        co_return;
    m_rows[row].mark = cutters::giftMark(gift.text); // unreadable: "√", the cloud disk decides
    m_rows[row].markKnown = gift.ok();
    rowDone(row);
}

QCoro::Task<> HarvestRun::resolveShareRow(RowId row) {
    if (m_foreign[row] || !isLive(row))
        co_return rowDone(row);
    Slots &share = m_hosts->share();
    const QString key = m_rows[row].key;
    const Fetched reply = co_await request(share, row, [&] {
        return m_web.PostFormChunk(sharesite::findAddress(m_sites.share), sharesite::findBody(key), &scope());
    });
    if (isCancelled())
        co_return;
    m_rows[row].code = cutters::cutGiftCode(reply.text);
    rowDone(row);
}
