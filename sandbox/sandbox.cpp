#include "sandbox/sandbox.h"

#include "sandbox/pages.h"
#include "version.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QLocale>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTimeZone>
#include <QUrlQuery>

namespace sandbox {

namespace {

constexpr const char *kHosts[kSiteCount] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
constexpr const char *kVariables[kSiteCount] = {"GIFTVANE_LISTING_SITE", "GIFTVANE_SHARE_SITE",
                                                "GIFTVANE_CLOUD_DISK_HOST", "GIFTVANE_UPDATE_SERVER"};
constexpr int kGiftBase = 100000, kCodeBase = 200000, kShareBase = 300000;

quint32 mix(quint32 a, quint32 b) {
    quint32 h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

QByteArray gbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

// A page in GBK that says so in its <meta>, as real GBK pages do.
QByteArray gbkPage(const QString &text) {
    return gbk(QString(text).replace(u"charset=\"utf-8\""_qs, u"charset=\"gbk\""_qs));
}

Response html(const QString &text, QByteArray contentType = "text/html; charset=utf-8") {
    return {200, std::move(contentType), text.toUtf8(), {}};
}

QDateTime fromHttpDate(QByteArray text) {
    // Qt reads RFC 2822 dates with a numeric zone only.
    if (text.endsWith(" GMT"))
        text.replace(text.size() - 3, 3, "+0000");
    return QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
}

QByteArray toHttpDate(const QDateTime &time) {
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT";
}

const QStringList kGames = {u"原神"_qs,     u"崩坏：星穹铁道"_qs, u"王者荣耀"_qs,   u"阴阳师"_qs,
                            u"明日方舟"_qs, u"梦幻西游"_qs,       u"天涯明月刀"_qs, u"逆水寒"_qs,
                            u"光遇"_qs,     u"剑网3"_qs};
const QStringList kKinds = {u"新手礼包"_qs,   u"豪华礼包"_qs, u"周年庆礼包"_qs, u"资源合集"_qs,
                            u"高清资源包"_qs, u"节日礼包"_qs, u"公测礼包"_qs,   u"独家资源"_qs};

} // namespace

Sandbox::Sandbox(quint32 seed, QObject *parent)
    : QObject(parent)
    , m_seed(seed) {
    setVersion(QStringLiteral(GIFTVANE_VERSION_TAG)); // the program's own: it starts
}

Sandbox::~Sandbox() = default;

bool Sandbox::start() {
    for (int i = 0; i < kSiteCount; ++i) {
        auto *server = new QTcpServer(this);
        if (!server->listen(QHostAddress(QString::fromLatin1(kHosts[i])), 0))
            return false;
        const Site site = static_cast<Site>(i);
        connect(server, &QTcpServer::newConnection, this, [this, site] { accept(site); });
        m_servers[i] = server;
    }
    return true;
}

QString Sandbox::address(Site site) const {
    const QTcpServer *server = m_servers[static_cast<int>(site)];
    return u"http://" + QString::fromLatin1(kHosts[static_cast<int>(site)]) + u":" +
           QString::number(server ? server->serverPort() : 0);
}

QStringList Sandbox::environmentLines() const {
    QStringList lines;
    for (int i = 0; i < kSiteCount; ++i)
        lines.append(QString::fromLatin1(kVariables[i]) + u"=" + address(static_cast<Site>(i)));
    lines.append(u"GIFTVANE_FORUM_SITE=" + address(Site::Update));
    lines.append(u"GIFTVANE_SUPPORT_SITE=" + address(Site::Update) + u"/kf.html");
    return lines;
}

void Sandbox::setFault(const QString &pattern, Fault fault) {
    m_faults.append({QRegularExpression(pattern), fault});
}

void Sandbox::setHandler(Site site, const QByteArray &path, Handler handler) {
    m_handlers.insert({static_cast<int>(site), path}, std::move(handler));
}

void Sandbox::setVersion(const QString &version) {
    m_versionFile = "xunlei:V2.3.1|115:" + version.toUtf8() + "|baidu:V3.0.8|\r\n";
}

QList<Request> Sandbox::requests(Site site) const {
    QList<Request> out;
    for (const Request &request : m_requests) {
        if (request.site == site)
            out.append(request);
    }
    return out;
}

QString Sandbox::codeFor(quint32 seed, int resourceId) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    quint32 h = mix(seed, static_cast<quint32>(resourceId));
    QString code = QStringLiteral("gv");
    for (int i = 0; i < 7; ++i) {
        code += QLatin1Char(kAlphabet[h % 36]);
        h = mix(h, static_cast<quint32>(i));
    }
    // The last digit decides the cloud disk's answers (see the README).
    code += QLatin1Char(static_cast<char>('0' + mix(h, seed) % 10));
    return code;
}

QString Sandbox::titleFor(int resourceId) const {
    const quint32 h = mix(m_seed ^ 0x5A5A5A5Au, static_cast<quint32>(resourceId));
    return kGames[h % kGames.size()] + kKinds[(h >> 8) % kKinds.size()] + u"No." +
           QString::number(resourceId % 100000);
}

QDateTime Sandbox::firstModified() {
    return QDateTime(QDate(2026, 11, 1), QTime(8, 0), QTimeZone::utc());
}

int Sandbox::generation(const QByteArray &path) const {
    static const QList<QByteArray> kPageOnes = {"/libao/index_1.html", "/tiquma/index_1.html", "/new/1.html"};
    if (!kPageOnes.contains(path))
        return -1;
    return m_changesEvery > 0 ? m_pageOneRequests.value(path) / m_changesEvery : 0;
}

void Sandbox::validate(const Request &request, Response &response) const {
    static const QRegularExpression listed(
        QStringLiteral(R"(^/(libao|tiquma)/index_\d+\.html$|^/new/\d+\.html$|^/plus/search\.php$)"));
    const QByteArray path = request.path();
    if (response.status != 200 || request.method != "GET" ||
        !listed.match(QString::fromUtf8(path)).hasMatch())
        return;
    // Stable while the page is: a digest of its bytes, and the time of its last change.
    const QByteArray etag =
        '"' + QCryptographicHash::hash(response.body, QCryptographicHash::Sha1).toHex().left(16) + '"';
    const QDateTime modified = firstModified().addSecs(60 * qMax(0, generation(path)));
    response.headers.append({"ETag", etag});
    response.headers.append({"Last-Modified", toHttpDate(modified)});
    bool unchanged = false;
    if (const QByteArray tags = request.header("If-None-Match"); !tags.isEmpty()) {
        for (QByteArray tag : tags.split(',')) {
            tag = tag.trimmed();
            if (tag.startsWith("W/"))
                tag = tag.mid(2);
            unchanged = unchanged || tag == "*" || tag == etag;
        }
    } else {
        const QDateTime since = fromHttpDate(request.header("If-Modified-Since"));
        unchanged = since.isValid() && since >= modified;
    }
    if (unchanged) {
        response.status = 304;
        response.body.clear();
    }
}

QByteArray Sandbox::flood(Site site) const {
    const QByteArray block =
        site == Site::Share
            ? QByteArray("<tr><td><a href=\"/file/1.html\">x （1G）</a></td><td><em>1</em></td></tr>\n")
            : QByteArray("<li><a class=\"title\" target=\"_blank\">x</a><small>文件大小：</small>1 GB"
                         "<span class=\"info\"><a href=\"/libao/1.html\">x</a></span></li>\n");
    QByteArray body;
    body.reserve(16 * 1024 * 1024);
    while (body.size() + block.size() < 16 * 1024 * 1024 - 1024)
        body += block;
    return body;
}

Response Sandbox::generate(const Request &request) const {
    const auto handler = m_handlers.constFind({static_cast<int>(request.site), request.path()});
    if (handler != m_handlers.cend())
        return (*handler)(request);
    switch (request.site) {
    case Site::Listing:
        return listingSite(request);
    case Site::Share:
        return shareSite(request);
    case Site::CloudDisk:
        return cloudDisk(request);
    case Site::Update:
        return updateServer(request);
    }
    return {404, "text/plain", "no such site", {}};
}

// --- Listing site -------------------------------------------------------------------------

QByteArray Sandbox::listingPage(bool codes, int pageNumber, int gained) const {
    const QString section = codes ? QStringLiteral("tiquma") : QStringLiteral("libao");
    const int base = (codes ? kCodeBase : kGiftBase) + pageNumber * 100;
    QString body = u"<div class=\"nav\"><a href=\"/\">首页</a> &gt; " + section + u" 第" +
                   QString::number(pageNumber) + u"页</div>\n<ul class=\"list\">\n";
    // The newest first: what page 1 has gained, then the page's own resources.
    QList<int> ids;
    for (int g = gained; g > 0 && ids.size() < kResourcesPerPage; --g)
        ids.append((codes ? kCodeBase : kGiftBase) + kNewIdOffset + g);
    for (int j = 0; ids.size() < kResourcesPerPage; ++j)
        ids.append(base + j);
    for (int j = 0; j < kResourcesPerPage; ++j) {
        const int id = ids[j];
        const QString link = u"/" + section + u"/" + QString::number(id) + u".html";
        const bool irregular = !codes && pageNumber == kIrregularPage;
        const bool foreign = !codes && pageNumber == kForeignLinksPage;
        const quint32 h = mix(m_seed, static_cast<quint32>(id));
        const QString size = QString::number(0.2 + (h % 400) / 10.0, 'f', 1) + (h % 3 ? u" GB" : u" MB");
        body += u"<li>";
        if (!(irregular && j == 4)) // block 4 of the irregular page has no title anchor
            body += u"<h2><a title=\"" + titleFor(id) + u"\" href=\"" + link +
                    u"\" class=\"title\" target=\"_blank\">" + titleFor(id) + u"</a></h2>";
        body += u"<p><small>文件大小：</small>" + size + u" <em>" + QString::number(h % 90 + 1) +
                u"次下载</em></p>";
        body += u"<span class=\"info\">";
        static const QString kForeign[] = {u"@127.0.0.7:18081/stolen0"_qs,
                                           u"http://127.0.0.7:18081/stolen1.html"_qs,
                                           u"//127.0.0.7:18081/stolen2.html"_qs};
        if (foreign && j >= 2 && j <= 4)
            body += u"<a href=\"" + kForeign[j - 2] + u"\">查看详情</a>";
        else if (!(irregular && j == 9)) // block 9 of the irregular page has no detail link
            body += u"<a href=\"" + link + u"\">查看详情</a>";
        body += u" 更新：2026-11-" + QString::number(h % 28 + 1) + u"</span></li>\n";
    }
    body += u"</ul>\n<div class=\"pages\">共" + QString::number(kLastPage + 1) + u"页</div>";
    const QString text = page(section + u" - 115礼包", body);
    switch (pageNumber % 3) {
    case 0:
        return text.toUtf8();
    case 1:
        return "\xEF\xBB\xBF" + text.toUtf8();
    default:
        return gbkPage(text);
    }
}

Response Sandbox::listingSite(const Request &request) const {
    static const QRegularExpression listing(QStringLiteral("^/(libao|tiquma)/index_(\\d+)\\.html$"));
    static const QRegularExpression detail(QStringLiteral("^/(libao|tiquma)/(\\d+)\\.html$"));
    const QString path = QString::fromUtf8(request.path());
    if (const auto m = listing.match(path); m.hasMatch()) {
        const int number = m.captured(2).toInt();
        if (number > kLastPage)
            return {404, "text/html", page(QStringLiteral("404"), QStringLiteral("没有这一页")).toUtf8(), {}};
        return {200,
                "text/html",
                listingPage(m.captured(1) == u"tiquma", number, qMax(0, generation(request.path()))),
                {}};
    }
    if (const auto m = detail.match(path); m.hasMatch()) {
        const int id = m.captured(2).toInt();
        const QString body = u"<h1>" + titleFor(id) +
                             u"</h1>\n<div class=\"intro\">资源简介：本资源由网友分享。</div>\n"
                             u"<ul class=\"downurl\"><li><a href=\"/plus/download.php?open=0&aid=" +
                             QString::number(id) + u"&cid=3\">下载地址①</a></li></ul>";
        return {200, "text/html", gbkPage(page(titleFor(id), body)), {}};
    }
    const QUrlQuery query(QString::fromUtf8(request.query()));
    if (path == u"/plus/download.php") {
        const int id = query.queryItemValue(QStringLiteral("aid")).toInt();
        if (id == 0)
            return html(page(QStringLiteral("错误"), QStringLiteral("<p>参数错误</p>")));
        const QString body = u"<p>" + titleFor(id) +
                             u"</p>\n<a class=\"go\" href=\"http://115.com/?ct=lb&ac=index&gift_code=" +
                             codeFor(id) + u"&from=listing\">领取礼包</a>";
        return html(page(QStringLiteral("下载"), body));
    }
    if (path == u"/plus/search.php") {
        const QString fixed = QStringLiteral("typeid=5&starttime=-1&channeltype=0&orderby=sortrank&pagesize="
                                             "100&kwtype=1&searchtype=titlekeyword"
                                             "&%E6%90%9C%E7%B4%A2=%E6%90%9C%E7%B4%A2");
        QString rest = QString::fromUtf8(request.query());
        static const QRegularExpression keywordItem(QStringLiteral("&q=[^&]*"));
        const QString keyword = QUrl::fromPercentEncoding(
            QRegularExpression(QStringLiteral("[?&]q=([^&]*)")).match(u"&" + rest).captured(1).toUtf8());
        rest.remove(keywordItem);
        if (rest != fixed || keyword.isEmpty())
            return html(page(QStringLiteral("搜索"), QStringLiteral("<p>参数错误</p>")));
        QString body = u"<div class=\"result\">搜索：" + keyword.toHtmlEscaped() + u"</div>\n";
        int hits = 0;
        for (int n = 0; n <= kLastPage && hits < 100; ++n) {
            for (int j = 0; j < kResourcesPerPage && hits < 100; ++j) {
                const int id = kGiftBase + n * 100 + j;
                const QString title = titleFor(id);
                if (!title.contains(keyword))
                    continue;
                ++hits;
                QString shown = title;
                shown.replace(keyword, u"<font color='red'>" + keyword + u"</font>");
                body += u"<h3><a href=\"/libao/" + QString::number(id) + u".html\">" + shown +
                        u"</a><span class=\"date\">2026-11-0" + QString::number(j % 9 + 1) +
                        u"</span></h3>\n";
            }
        }
        if (hits == 0)
            body += u"<p>没有找到相关内容</p>";
        return html(page(QStringLiteral("搜索结果"), body));
    }
    return {404,
            "text/html",
            page(QStringLiteral("404"), QStringLiteral("<h1>404 页面不存在</h1>")).toUtf8(),
            {}};
}

// --- Share site ---------------------------------------------------------------------------

QByteArray Sandbox::sharePage(const QList<int> &ids) const {
    const QString base = address(Site::Share);
    QString body = QStringLiteral("<table class=\"res\">\n<tr><th>资源</th><th>人气</th></tr>\n");
    for (const int id : ids) {
        const quint32 h = mix(m_seed, static_cast<quint32>(id));
        body += u"<tr><td><a href=\"" + base + u"/file/" + QString::number(id) +
                u".html\" target=\"_blank\">" + titleFor(id) + u" （" + QString::number(1 + h % 50) + u"." +
                QString::number(h % 10) + u"G）</a></td><td><em>" + QString::number(h % 500) +
                u"</em></td></tr>\n";
    }
    body += u"</table>";
    return page(QStringLiteral("最新资源"), body).toUtf8();
}

Response Sandbox::shareSite(const Request &request) const {
    static const QRegularExpression newPage(QStringLiteral("^/new/(\\d+)\\.html$"));
    const QString path = QString::fromUtf8(request.path());
    if (const auto m = newPage.match(path); m.hasMatch()) {
        QList<int> ids;
        for (int g = generation(request.path()); g > 0 && ids.size() < kResourcesPerPage; --g)
            ids.append(kShareBase + kNewIdOffset + g);
        for (int j = 0; ids.size() < kResourcesPerPage; ++j)
            ids.append(kShareBase + m.captured(1).toInt() * 100 + j);
        return {200, "text/html; charset=utf-8", sharePage(ids), {}};
    }
    if (path == u"/index.html") {
        const QUrlQuery query(QString::fromUtf8(request.query()));
        const QString keyword =
            QUrl::fromPercentEncoding(query.queryItemValue(QStringLiteral("k"), QUrl::FullyEncoded).toUtf8());
        QList<int> ids;
        for (int n = 0; n <= kLastPage && ids.size() < 50; ++n) {
            for (int j = 0; j < kResourcesPerPage; ++j) {
                const int id = kShareBase + n * 100 + j;
                if (!keyword.isEmpty() && titleFor(id).contains(keyword) && ids.size() < 50)
                    ids.append(id);
            }
        }
        if (ids.isEmpty())
            return html(page(QStringLiteral("搜索"),
                             QStringLiteral("<div class=\"empty\">没有找到符合条件的资源</div>")));
        return {200, "text/html; charset=utf-8", sharePage(ids), {}};
    }
    if (path == u"/api/find.aspx" && request.method == "POST") {
        const QUrlQuery form(QString::fromUtf8(request.body));
        const QString id = form.queryItemValue(QStringLiteral("hidfileid"));
        QByteArray body = "<html><body><div class=\"pad\">" + QByteArray(2000, ' ') + "</div>";
        body += "<a href=\"http://115.com/?ct=lb&gift_code=" + codeFor(id.toInt()).toUtf8() +
                "&from=share\">接收</a>";
        body += "</body></html>";
        return {200, "text/html; charset=gbk", body, {}};
    }
    return {404, "text/html", page(QStringLiteral("404"), QStringLiteral("<h1>404</h1>")).toUtf8(), {}};
}

// --- Cloud disk ---------------------------------------------------------------------------

Response Sandbox::cloudDisk(const Request &request) const {
    const QString path = QString::fromUtf8(request.path());
    QByteArray session = sessionCookieName();
    session += '=';
    const bool signedIn = request.header("Cookie").contains(session);
    if (request.method == "POST" && path == u"/" && request.query() == "ct=filegift&ac=receive") {
        const QByteArray prefix = "referer=&gift_code=";
        if (request.header("Content-Type") != "application/x-www-form-urlencoded" ||
            !request.body.startsWith(prefix))
            return {200,
                    "application/json; charset=utf-8",
                    u"{\"state\":false,\"error\":\"参数错误\"}"_qs.toUtf8(),
                    {}};
        if (!signedIn)
            return html(page(QStringLiteral("登录"), QStringLiteral("<p>请先登录帐号后再接收礼包</p>")));
        const QByteArray code = QByteArray::fromPercentEncoding(request.body.mid(prefix.size()));
        const char last = code.isEmpty() ? 'x' : code.back();
        QString answer;
        if (last >= '0' && last <= '5')
            answer = QStringLiteral("{\"state\":true,\"msg\":\"成功接收礼包，文件已保存到您的网盘\"}");
        else if (last == '6')
            answer = QStringLiteral("{\"state\":false,\"msg\":\"礼包接收功能仅限VIP会员使用\"}");
        else if (last == '7')
            answer = QStringLiteral("{\"state\":false,\"msg\":\"该礼包正在审核中\"}");
        else
            answer = QStringLiteral("{\"state\":false,\"msg\":\"礼包码不存在或已被取消\"}");
        return {200, "application/json; charset=utf-8", answer.toUtf8(), {}};
    }
    if (path.startsWith(u"/lb/")) {
        const QString code = path.mid(4);
        QString note = QStringLiteral("<p>礼包有效，登录后即可接收。</p>");
        if (code.endsWith(QLatin1Char('8')))
            note = QStringLiteral("<p>该分享涉及违规资源，已被屏蔽。</p>");
        else if (code.endsWith(QLatin1Char('9')) || code.isEmpty())
            note = QStringLiteral("<p>礼包码无效或已过期。</p>");
        return html(page(u"礼包 " + code, note));
    }
    if (path == u"/login/scan") {
        // Back to the start page, or within the sign-in frame to a page of its own.
        const QByteArray session = "s" + QByteArray::number(mix(m_seed, 77), 16);
        const QByteArray then = request.query() == "in=frame" ? "/login/framed" : "/";
        return {
            302,
            "text/html; charset=utf-8",
            QByteArray(),
            {{"Set-Cookie", sessionCookieName() + "=" + session + "; Path=/; HttpOnly"}, {"Location", then}}};
    }
    if (path == u"/login/frame")
        return html(page(QStringLiteral("扫码"),
                         QStringLiteral("<a id=\"scan\" href=\"/login/scan?in=frame\">扫码</a>")));
    if (path == u"/login/framed")
        return html(page(QStringLiteral("115网盘"), QStringLiteral("<div>加载目录数据…</div>")));
    if (path == u"/logout") {
        return {302,
                "text/html; charset=utf-8",
                QByteArray(),
                {{"Set-Cookie", sessionCookieName() + "=; Path=/; Max-Age=0"}, {"Location", "/"}}};
    }
    if (path == u"/") {
        if (signedIn)
            return html(
                page(QStringLiteral("115网盘"),
                     QStringLiteral("<div id=\"files\">加载目录数据…</div><a href=\"/logout\">退出</a>")));
        return html(page(QStringLiteral("115网盘 登录"),
                         QStringLiteral("<h1>115网盘</h1><p>请使用115手机客户端扫码登录</p>"
                                        "<div class=\"qrcode\">▣▣▣</div>"
                                        "<p><a id=\"scan\" href=\"/login/scan\">模拟扫码登录</a></p>"
                                        "<iframe id=\"qr\" src=\"/login/frame\"></iframe>")));
    }
    return {404, "text/html", page(QStringLiteral("404"), QStringLiteral("<h1>404</h1>")).toUtf8(), {}};
}

// --- Update server, forum, support --------------------------------------------------------

Response Sandbox::updateServer(const Request &request) const {
    const QByteArray path = request.path();
    if (path == "/version/main.txt")
        return {200, "text/plain", m_versionFile, {}};
    if (path == "/forum.php")
        return html(
            page(QStringLiteral("Corvane论坛"), QStringLiteral("<h1>Corvane论坛</h1><p>更新发布帖</p>")));
    if (path == "/kf.html")
        return html(page(QStringLiteral("客服中心"), QStringLiteral("<h1>客服中心</h1>")));
    if (path == "/")
        return html(page(QStringLiteral("Corvane"), QStringLiteral("<h1>Corvane论坛</h1>")));
    return {404, "text/html", page(QStringLiteral("404"), QStringLiteral("<h1>404</h1>")).toUtf8(), {}};
}

} // namespace sandbox
