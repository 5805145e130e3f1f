#include "cli/arguments.h"

#include "watch/newgiftwatch.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace harvestcommand {

namespace {

QString quoted(const QString &text) {
    return u'"' + text + u'"';
}

} // namespace

RunRequest runRequest(const HarvestOrder &order, int page) {
    return {order.harvest, order.harvest->isSearch() ? 0 : page, order.keyword};
}

QList<int> parsePages(const QString &text, QString *error) {
    static const QRegularExpression item(QStringLiteral("^(\\d{1,9})(?:-(\\d{1,9}))?$"));
    QList<int> pages;
    for (const QString &part : text.split(u',')) {
        const QRegularExpressionMatch match = item.match(part);
        if (!match.hasMatch()) {
            *error = u"bad pages " + quoted(text) + u": use N, N-M or a list such as 1,3,5-7";
            return {};
        }
        const int first = match.captured(1).toInt();
        const int last = match.hasCaptured(2) ? match.captured(2).toInt() : first;
        for (const int page : {first, last}) {
            if (page < kFirstPage || page > kLastPage) {
                *error = u"page " + QString::number(page) + u" is out of range: pages go from " +
                         QString::number(kFirstPage) + u" to " + QString::number(kLastPage);
                return {};
            }
        }
        if (first > last) {
            *error = u"bad pages " + quoted(part) + u": " + QString::number(first) + u" comes after " +
                     QString::number(last);
            return {};
        }
        for (int page = first; page <= last; ++page) {
            if (!pages.contains(page)) // a page asked for twice is harvested once
                pages.append(page);
        }
    }
    return pages;
}

WatchOrder parseWatch(const WatchWords &words, QString *error) {
    WatchOrder watch;
    if (!words.every.isEmpty()) {
        bool number = false;
        watch.minutes = words.every.toInt(&number);
        if (!number || *watch.minutes < WatchChoices::kFewestMinutes ||
            *watch.minutes > WatchChoices::kMostMinutes)
            *error = u"--every takes minutes from " + QString::number(WatchChoices::kFewestMinutes) +
                     u" to " + QString::number(WatchChoices::kMostMinutes) + u", not " + quoted(words.every);
    }
    if (words.kinds.size() > 1) {
        *error = u"unexpected argument " + quoted(words.kinds[1]);
        return watch;
    }
    for (const QString &name : words.kinds.isEmpty() ? QStringList() : words.kinds[0].split(u',')) {
        const HarvestKind *kind = harvestKindNamed(name);
        if (!kind || kind->isSearch()) {
            *error = u"unknown kind " + quoted(name) +
                     u": the watch looks at libao, share or tiquma, or --search and --share-search";
            return watch;
        }
        Subscription page;
        page.tab = kind->tab;
        page.name = page.sourceCaption();
        watch.subscriptions.append(page);
    }
    for (const auto &[keywords, tab] :
         {std::pair{&words.searches, TabId::Libao}, {&words.shareSearches, TabId::Share}}) {
        for (const QString &keyword : *keywords) {
            // As the window's search box: a one-character keyword is refused.
            if (keyword.trimmed().size() < 2) {
                *error = u"keyword " + quoted(keyword) + u" is too short: at least 2 characters";
                return watch;
            }
            Subscription search;
            search.tab = tab;
            search.search = true;
            search.keyword = keyword;
            search.name = keyword;
            watch.subscriptions.append(search);
        }
    }
    std::optional<double> maxSize;
    if (!words.maxSize.isEmpty()) {
        bool number = false;
        maxSize = words.maxSize.toDouble(&number);
        if (!number || !(*maxSize > 0) || *maxSize > 1e9) {
            *error = u"--max-size takes a size in GB above 0, not " + quoted(words.maxSize);
            return watch;
        }
    }
    if (watch.subscriptions.isEmpty() && (!words.include.isEmpty() || !words.exclude.isEmpty() || maxSize)) {
        *error =
            QStringLiteral("--include, --exclude and --max-size go with a kind, --search or --share-search");
        return watch;
    }
    for (Subscription &subscription : watch.subscriptions) {
        subscription.include = words.include;
        subscription.exclude = words.exclude;
        subscription.maxSizeGb = maxSize;
    }
    return watch;
}

QByteArray subscriptionLine(const Subscription &subscription) {
    const auto field = [](QString text) {
        for (QChar &c : text) {
            if (c.category() == QChar::Other_Control || c == u'\u2028' || c == u'\u2029')
                c = u' ';
        }
        return text;
    };
    const QStringList fields{field(subscription.shownName()),
                             subscription.sourceCaption(),
                             field(subscription.search ? subscription.keyword : QString()),
                             field(subscription.include.join(u' ')),
                             field(subscription.exclude.join(u' ')),
                             subscription.maxSizeGb ? QString::number(*subscription.maxSizeGb) : QString(),
                             subscription.enabled ? u"on"_qs : u"off"_qs,
                             subscription.autoReceive ? u"receive"_qs : QString()};
    return (fields.join(u'\t') + u'\n').toUtf8();
}

namespace {

// The harvest's own words: its kind, then its pages or its keyword.
void parseHarvest(const QStringList &words, HarvestOrder &order, QString *error) {
    if (words.isEmpty()) {
        *error = QStringLiteral("missing the harvest: libao, tiquma, share, search or share-search");
        return;
    }
    order.harvest = harvestKindNamed(words[0]);
    if (!order.harvest) {
        *error =
            u"unknown harvest " + quoted(words[0]) + u": use libao, tiquma, share, search or share-search";
        return;
    }
    if (words.size() > 2) {
        *error = u"unexpected argument " + quoted(words[2]);
        return;
    }
    const QString what = words.value(1);
    if (order.harvest->isSearch()) {
        // As the window's search box: an empty keyword and a one-character one are refused.
        if (what.isEmpty())
            *error = words[0] + u" needs a keyword";
        else if (what.size() < 2)
            *error = u"keyword " + quoted(what) + u" is too short: at least 2 characters";
        order.keyword = what;
        return;
    }
    if (words.size() < 2) {
        *error = words[0] + u" needs pages, such as 1 or 1-5";
        return;
    }
    order.pages = parsePages(what, error);
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption header(QStringLiteral("header"));
    const QCommandLineOption noLedger(QStringLiteral("no-ledger"));
    const QCommandLineOption onlyNew(QStringLiteral("new"));
    const QCommandLineOption requests(QStringLiteral("requests-per-host"), QString(), QStringLiteral("N"));
    const QCommandLineOption every(QStringLiteral("every"), QString(), QStringLiteral("MINUTES"));
    const QCommandLineOption receive(QStringLiteral("receive"));
    const QCommandLineOption once(QStringLiteral("once"));
    const QCommandLineOption search(QStringLiteral("search"), QString(), QStringLiteral("KEYWORD"));
    const QCommandLineOption shareSearch(QStringLiteral("share-search"), QString(),
                                         QStringLiteral("KEYWORD"));
    const QCommandLineOption include(QStringLiteral("include"), QString(), QStringLiteral("WORD"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), QString(), QStringLiteral("WORD"));
    const QCommandLineOption maxSize(QStringLiteral("max-size"), QString(), QStringLiteral("GB"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({json, header, noLedger, onlyNew, requests, every, receive, once, search, shareSearch,
                       include, exclude, maxSize, help, version});

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.error = parser.errorText();
        return line;
    }
    if (parser.isSet(help)) {
        line.help = true;
        return line;
    }
    if (parser.isSet(version)) {
        line.version = true;
        return line;
    }

    HarvestOrder &order = line.order;
    order.json = parser.isSet(json);
    order.header = parser.isSet(header);
    order.ledger = !parser.isSet(noLedger);
    order.onlyNew = parser.isSet(onlyNew);
    if (order.onlyNew && !order.ledger) {
        line.error = QStringLiteral("--new needs the ledger to tell new codes, so not with --no-ledger");
        return line;
    }
    if (parser.isSet(requests)) {
        bool number = false;
        order.requestsPerHost = parser.value(requests).toInt(&number);
        if (!number || order.requestsPerHost < 1 || order.requestsPerHost > kMostRequestsPerHost) {
            line.error = u"--requests-per-host takes a number from 1 to " +
                         QString::number(kMostRequestsPerHost) + u", not " + quoted(parser.value(requests));
            return line;
        }
    }

    const QStringList words = parser.positionalArguments();
    const bool watching = words.value(0) == u"watch";
    if (words.value(0) == u"subscriptions" && words.size() == 1) {
        line.listSubscriptions = true;
        return line;
    }
    for (const QCommandLineOption &option :
         {every, receive, once, search, shareSearch, include, exclude, maxSize}) {
        if (parser.isSet(option) && !watching) {
            line.error = u"--" + option.names().constFirst() + u" is for the watch only";
            return line;
        }
    }
    if (watching) {
        if (!order.ledger || order.onlyNew) {
            line.error =
                QStringLiteral("the watch tells only what the ledger never saw: no --no-ledger or --new");
            return line;
        }
        line.watch =
            parseWatch({words.mid(1), parser.value(every), parser.values(search), parser.values(shareSearch),
                        parser.values(include), parser.values(exclude), parser.value(maxSize)},
                       &line.error);
        line.watch->receive = parser.isSet(receive);
        line.watch->once = parser.isSet(once);
        return line;
    }
    parseHarvest(words, order, &line.error);
    return line;
}

QString usage() {
    return QStringLiteral(
        "用法 Usage: giftvane-harvest [选项 options] HARVEST PAGES|KEYWORD\n"
        "       giftvane-harvest watch [watch options] [KIND[,KIND…]]\n"
        "       giftvane-harvest subscriptions\n"
        "\n"
        "不开窗口，运行与 Giftvane 窗口相同的采集，礼包行解析完一行即写到标准输出一行。\n"
        "Runs Giftvane's harvests without a window; each gift row goes to stdout as soon as it\n"
        "is resolved.\n"
        "\n"
        "采集 HARVEST:\n"
        "  libao PAGES           礼包站的礼包页 (资源①)       listing-site gift pages\n"
        "  tiquma PAGES          礼包站的提取码页 (资源③)     listing-site code pages\n"
        "  share PAGES           分享站的最新资源页 (资源②)   share-site new-resource pages\n"
        "  search KEYWORD        在礼包站搜索关键字           listing-site keyword search\n"
        "  share-search KEYWORD  在分享站搜索关键字           share-site keyword search\n"
        "\n"
        "  watch [KIND[,KIND…]]  新礼包提醒：每隔几分钟检查订阅, 写出新礼包\n"
        "                        the new-gift watch: checks page 1 of each KIND (libao, share,\n"
        "                        tiquma) and each --search/--share-search every few minutes, and\n"
        "                        writes each new gift as a row when found (default: the window's\n"
        "                        subscriptions). Ends on SIGINT/SIGTERM, after the post in flight.\n"
        "  subscriptions         列出窗口的订阅 list the window's subscriptions (TSV: name, source,\n"
        "                        keyword, include, exclude, max GB, on/off, receive)\n"
        "\n"
        "PAGES    N, N-M 或列表 or a list: 1,3,5-7. 页码 0 至 150, 逐页依次采集.\n"
        "         Pages 0 to 150, harvested in the order given, each once.\n"
        "KEYWORD  至少两个字符 at least 2 characters. 以 - 开头时写在 -- 之后 (after --\n"
        "         when it starts with -).\n"
        "\n"
        "选项 Options:\n"
        "  --json                  每行一个 JSON 对象 one JSON object per row\n"
        "  --header                TSV 第一行写列名 a first line naming the TSV columns\n"
        "  --no-ledger             不写入接收记录 do not record the rows in the ledger\n"
        "  --new                   只写出接收记录中未曾见过的礼包码 only rows whose code the ledger\n"
        "                          had not seen before this run (for cron and scripts)\n"
        "  --requests-per-host N   每个站点同时请求数上限, 1 至 6, 默认 6; 1 为逐个请求\n"
        "                          requests in flight per site, 1 to 6, default 6;\n"
        "                          1 makes them one at a time\n"
        "  --every MINUTES         watch: 检查间隔 between checks, 5 to 1440 (default: the\n"
        "                          window's choice, else 30)\n"
        "  --receive               watch: 用保持的登录自动接收新礼包 receive new gifts with the sign-in\n"
        "                          kept in the secret store (the window's \"保持登录\"), at most\n"
        "                          one post per 2 seconds, never a code another Giftvane claimed\n"
        "  --once                  watch: 检查一次后结束 one check, then end (for cron)\n"
        "  --search KEYWORD        watch: 礼包站搜索 a listing-site search (repeatable)\n"
        "  --share-search KEYWORD  watch: 分享站搜索 a share-site search (repeatable)\n"
        "  --include WORD          watch: 标题须包含 titles must hold every such word (repeatable)\n"
        "  --exclude WORD          watch: 标题不包含 titles must hold none (repeatable)\n"
        "  --max-size GB           watch: 大小不超过 no larger (rows without a size pass)\n"
        "  -h, --help              显示本说明 show this text\n"
        "  -v, --version           显示版本 show the version\n"
        "\n"
        "输出 Output: UTF-8, 每行一个礼包 one row per line, TSV columns\n"
        "  code  title  size  mark  site  source  key\n"
        "  (site: libao, tiquma, share, search or share-search; source: the page or the keyword;\n"
        "  mark: √ or ×, empty for the share site; control characters in a field, tabs and line\n"
        "  breaks among them, become spaces).\n"
        "  --json fields: code, title, size, mark, markKnown, site, page or keyword, key; control\n"
        "  characters are escaped.\n"
        "  Progress goes to stderr when it is a terminal; the runs' log lines always do.\n"
        "\n"
        "退出状态 Exit status:\n"
        "  0    每页都已读取 every page was read (a search that found nothing too)\n"
        "  1    有页面无法读取 a page could not be read (the other pages are still harvested),\n"
        "       or stdout could not be written\n"
        "  2    参数错误 bad arguments\n"
        "  130  被 SIGINT 中断 interrupted: 随该信号结束 ends by the signal (143 for SIGTERM)\n"
        "  141  标准输出的读取方已关闭 the reader of stdout went away\n"
        "\n"
        "环境 Environment: GIFTVANE_LISTING_SITE, GIFTVANE_SHARE_SITE, GIFTVANE_CLOUD_DISK_HOST\n"
        "replace the sites' addresses. 接收记录 The ledger, shared with the window:\n"
        "~/.local/share/Giftvane/ledger.sqlite (under $XDG_DATA_HOME when set).\n");
}

} // namespace harvestcommand
