#include "session/sessionsettings.h"

#include <QSettings>

#include <array>

namespace {

constexpr std::array<const char *, kTabCount> kPageKeys{"pages/libao", "pages/share", "pages/tiquma"};

std::optional<int> number(const QSettings &file, const QString &key, int low, int high) {
    bool ok = false;
    const int value = file.value(key).toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

SessionSettings::SessionSettings(QSettings &file)
    : m_file(file) {}

SiteAddresses SessionSettings::sites() const {
    return SiteAddresses::configured(m_file);
}

QString SessionSettings::whySitesUnusable() const {
    return SiteAddresses::whyUnusable(&m_file);
}

std::optional<int> SessionSettings::page(TabId tab) const {
    return number(m_file, QString::fromLatin1(kPageKeys[int(tab)]), 0, kLastPage);
}

void SessionSettings::setPage(TabId tab, int page) {
    if (page >= 0 && page <= kLastPage)
        m_file.setValue(QString::fromLatin1(kPageKeys[int(tab)]), page);
}

bool SessionSettings::keepSignIn() const {
    return settingsFlag(m_file, QStringLiteral("signIn/keep"), false);
}

void SessionSettings::setKeepSignIn(bool keep) {
    m_file.setValue(QStringLiteral("signIn/keep"), keep);
}

WatchChoices SessionSettings::watch() const {
    WatchChoices watch;
    watch.subscriptions = readSubscriptions(m_file);
    watch.minutes = number(m_file, QStringLiteral("watch/minutes"), WatchChoices::kFewestMinutes,
                           WatchChoices::kMostMinutes)
                        .value_or(watch.minutes);
    return watch;
}

void SessionSettings::setWatch(const WatchChoices &watch) {
    writeSubscriptions(m_file, watch.subscriptions);
    if (watch.minutes >= WatchChoices::kFewestMinutes && watch.minutes <= WatchChoices::kMostMinutes)
        m_file.setValue(QStringLiteral("watch/minutes"), watch.minutes);
}

bool SessionSettings::watchRunning() const {
    return settingsFlag(m_file, QStringLiteral("watch/running"), false);
}

void SessionSettings::setWatchRunning(bool running) {
    m_file.setValue(QStringLiteral("watch/running"), running);
}
