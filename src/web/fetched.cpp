#include "web/fetched.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <limits>

QString Fetched::reason() const {
    const auto reaching = [this](QString why) { return host.isEmpty() ? why : why + u' ' + host; };
    switch (failure) {
    case Failure::None:
        return {};
    case Failure::Unreachable:
        return reaching(QStringLiteral("无法连接"));
    case Failure::TimedOut:
        return reaching(QStringLiteral("连接超时"));
    case Failure::HttpStatus:
        return u"HTTP " + QString::number(status);
    case Failure::TooLarge:
        return QStringLiteral("内容过大");
    case Failure::CutShort:
        return QStringLiteral("内容不完整");
    case Failure::BadEncoding:
        return QStringLiteral("压缩内容损坏");
    case Failure::RedirectRefused:
        return QStringLiteral("重定向被拒绝");
    case Failure::Cancelled:
        return QStringLiteral("已取消");
    case Failure::HostDown:
        return reaching(QStringLiteral("站点无响应"));
    }
    return {};
}

namespace httpdate {

namespace {

int monthOf(QStringView name) {
    static const QStringView kMonths[] = {u"jan", u"feb", u"mar", u"apr", u"may", u"jun",
                                          u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"};
    for (int i = 0; i < 12; ++i) {
        if (name.compare(kMonths[i], Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

QDateTime utc(int year, int month, int day, const QRegularExpressionMatch &m, int firstTimeField) {
    const QDate date(year, month, day);
    const QTime time(m.captured(firstTimeField).toInt(), m.captured(firstTimeField + 1).toInt(),
                     m.captured(firstTimeField + 2).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, QTimeZone::utc());
}

} // namespace

QDateTime parse(QByteArrayView text) {
    const QString value = QString::fromLatin1(text).trimmed();
    // Sun, 06 Nov 1994 08:49:37 GMT
    static const QRegularExpression fixdate(
        QStringLiteral(R"(^[A-Za-z]{3}, (\d{1,2}) ([A-Za-z]{3}) (\d{4}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    // Sunday, 06-Nov-94 08:49:37 GMT
    static const QRegularExpression rfc850(
        QStringLiteral(R"(^[A-Za-z]+, (\d{1,2})-([A-Za-z]{3})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    // Sun Nov  6 08:49:37 1994
    static const QRegularExpression asctime(
        QStringLiteral(R"(^[A-Za-z]{3} ([A-Za-z]{3}) +(\d{1,2}) (\d{2}):(\d{2}):(\d{2}) (\d{4})$)"));
    if (const auto m = fixdate.match(value); m.hasMatch())
        return utc(m.captured(3).toInt(), monthOf(m.captured(2)), m.captured(1).toInt(), m, 4);
    if (const auto m = rfc850.match(value); m.hasMatch()) {
        // Two-digit years: the nearer century, as mail readers do.
        const int yy = m.captured(3).toInt();
        return utc(yy < 70 ? 2000 + yy : 1900 + yy, monthOf(m.captured(2)), m.captured(1).toInt(), m, 4);
    }
    if (const auto m = asctime.match(value); m.hasMatch())
        return utc(m.captured(6).toInt(), monthOf(m.captured(1)), m.captured(2).toInt(), m, 3);
    return {};
}

QByteArray format(const QDateTime &time) {
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT";
}

int retryAfterSeconds(QByteArrayView value, const QDateTime &now) {
    const QByteArray trimmed = value.toByteArray().trimmed();
    if (trimmed.isEmpty())
        return -1;
    if (std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool fits = false;
        const qint64 seconds = trimmed.toLongLong(&fits);
        return fits && seconds <= std::numeric_limits<int>::max() ? int(seconds)
                                                                  : std::numeric_limits<int>::max();
    }
    const QDateTime when = parse(trimmed);
    if (!when.isValid())
        return -1;
    return int(qBound(qint64(0), now.secsTo(when), qint64(std::numeric_limits<int>::max())));
}

} // namespace httpdate
