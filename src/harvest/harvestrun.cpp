#include "harvest/harvestrun.h"

#include "giftlist/giftlistmodel.h"
#include "harvest/cutters.h"
#include "web/clouddisk.h"
#include "web/sharesite.h"
#include "web/webclient.h"

namespace {

const QString kResolvingText = QStringLiteral("资源获取完毕,正在获取礼包码..");
const QString kResolvedText = QStringLiteral("礼包码获取完毕..");

} // namespace

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
    setResolving(false);
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

QCoro::Task<QString> HarvestRun::fetchPage() {
    const RunRequest &r = m_request;
    switch (r.kind) {
    case RunKind::ListingPage: {
        co_return co_await m_web.OpenUrlDecoded(
            listingsite::listingPageAddress(m_sites.listing, r.section, r.page), &m_scope);
    }
    case RunKind::ListingSearch:
        co_return co_await m_web.OpenUrlDecoded(listingsite::searchAddress(m_sites.listing, r.keyword),
                                                &m_scope);
    case RunKind::SharePage:
        co_return co_await m_web.FetchPageText(sharesite::newResourcePageAddress(m_sites.share, r.page),
                                               &m_scope);
    case RunKind::ShareSearch:
        co_return co_await m_web.FetchPageText(sharesite::searchAddress(m_sites.share, r.keyword), &m_scope);
    }
    co_return QString();
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

    const bool listed = co_await listingPhase();
    if (m_cancelled)
        co_return end();
    if (!listed) {
        Q_EMIT finished(false);
        co_return end();
    }

    Q_EMIT statusText(kResolvingText);
    co_await resolveRows();
    if (m_cancelled)
        co_return end();
    Q_EMIT statusText(kResolvedText);
    setResolving(false);
    Q_EMIT finished(true);
    end();
}

QCoro::Task<bool> HarvestRun::listingPhase() {
    const QString page = co_await fetchPage();
    if (m_cancelled || page.isEmpty())
        co_return false;
    if (m_request.kind == RunKind::ShareSearch && page.contains(sharesite::kNoResultText)) {
        Q_EMIT statusText(QStringLiteral("抱歉!未找到相关资源!"));
        Q_EMIT nothingFound();
        co_return false;
    }

    QList<cutters::ListedResource> rows;
    switch (m_request.kind) {
    case RunKind::ListingPage:
        rows = cutters::cutListingPage(page);
        break;
    case RunKind::ListingSearch:
        rows = cutters::cutSearchPage(page);
        break;
    case RunKind::SharePage:
    case RunKind::ShareSearch:
        rows = cutters::cutSharePage(page, m_sites.share);
        break;
    }

    Q_EMIT progressRange(0, static_cast<int>(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        // One turn of the event loop per row keeps the window painting while a long page fills.
        if (!co_await m_scope.nextTurn() || !m_list)
            co_return false;
        Q_EMIT progressValue(static_cast<int>(i + 1));
        m_list->AppendGiftRow(rows[i].title, rows[i].size, rows[i].key);
    }
    co_return m_list->rowCount() > 0;
}

QCoro::Task<> HarvestRun::resolveRows() {
    m_rowTotal = m_list->rowCount();
    m_nextRow = 0;
    m_finishedRows = 0;
    Q_EMIT progressRange(1, m_rowTotal);
    if (isListingSite())
        setResolving(true);
    std::vector<QCoro::Task<>> workers;
    const int count = qMin(m_parallelism, m_rowTotal);
    workers.reserve(count);
    for (int k = 0; k < count; ++k)
        workers.push_back(resolveWorker());
    for (auto &worker : workers)
        co_await worker;
}

QCoro::Task<> HarvestRun::resolveWorker() {
    while (!m_cancelled && m_nextRow < m_rowTotal) {
        const int row = m_nextRow++;
        if (isListingSite())
            co_await resolveListingRow(row);
        else
            co_await resolveShareRow(row);
        if (m_cancelled)
            co_return;
        Q_EMIT progressValue(++m_finishedRows);
    }
}

bool HarvestRun::rowStillThere(int row, const QString &key) const {
    // The user may hide rows while codes resolve; write only into the row that asked.
    return !m_cancelled && m_list && row < m_list->rowCount() && m_list->entry(row).key == key;
}

QCoro::Task<> HarvestRun::resolveListingRow(int row) {
    if (!m_list || row >= m_list->rowCount())
        co_return;
    const QString key = m_list->entry(row).key;
    const QString detail =
        co_await m_web.OpenUrlText(listingsite::detailAddress(m_sites.listing, key), &m_scope);
    if (m_cancelled)
        co_return;
    QString code;
    // A page harvest skips the download for an empty detail page; a search asks anyway.
    if (!detail.isEmpty() || m_request.kind == RunKind::ListingSearch) {
        const QString query = cutters::cutDownloadQuery(detail);
        const QString download =
            co_await m_web.OpenUrlDecoded(listingsite::downloadAddress(m_sites.listing, query), &m_scope);
        code = cutters::cutGiftCode(download);
    }
    if (!rowStillThere(row, key))
        co_return;
    m_list->setCode(row, code);
    const QString giftPage =
        co_await m_web.FetchPageText(clouddisk::giftPageAddress(m_sites.cloudDisk, code), &m_scope);
    if (!rowStillThere(row, key))
        co_return;
    m_list->setMark(row, cutters::giftMark(giftPage));
}

QCoro::Task<> HarvestRun::resolveShareRow(int row) {
    if (!m_list || row >= m_list->rowCount())
        co_return;
    const QString id = m_list->entry(row).key;
    const QString reply = co_await m_web.PostFormChunk(sharesite::findAddress(m_sites.share),
                                                       sharesite::findBody(id), &m_scope);
    if (!rowStillThere(row, id))
        co_return;
    m_list->setCode(row, cutters::cutGiftCode(reply));
}
