#include "watch/subscription.h"

#include <QRegularExpression>
#include <QSettings>

#include <array>
#include <cmath>

namespace {

constexpr QLatin1StringView kArray("subscriptions");
constexpr std::array<const char *, kTabCount> kOldWatchKeys{"watch/libao", "watch/share", "watch/tiquma"};

// Full-width ASCII (U+FF01 to U+FF5E) and the ideographic space as their ASCII selves, then
// case-folded: a title typed with a Chinese input method matches a word typed without it.
QString folded(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        out[i] = c >= 0xFF01 && c <= 0xFF5E ? QChar(c - 0xFEE0) : c == 0x3000 ? QChar(u' ') : QChar(c);
    }
    return out.toCaseFolded();
}

QStringList foldedWords(const QStringList &words) {
    QStringList out;
    for (const QString &word : words) {
        if (const QString f = folded(word).trimmed(); !f.isEmpty())
            out.append(f);
    }
    return out;
}

QStringList words(const QVariant &value) {
    QStringList out = value.toStringList();
    out.removeIf([](const QString &word) { return word.trimmed().isEmpty(); });
    return out;
}

std::optional<double> limit(const QVariant &value) {
    bool ok = false;
    const double gb = value.toDouble(&ok);
    return ok && std::isfinite(gb) && gb > 0 ? std::optional(gb) : std::nullopt;
}

// An entity tag is a short token; a hand-edited file gets no more than this sent back.
constexpr qsizetype kLongestValidator = 256;

Subscription readOne(const QSettings &file, const QString &prefix) {
    Subscription s;
    const auto at = [&](const char *key) { return file.value(prefix + QLatin1StringView(key)); };
    s.name = at("name").toString();
    if (const HarvestKind *kind = harvestKindNamed(at("source").toString().trimmed())) {
        s.tab = kind->tab;
        s.search = kind->isSearch();
    }
    s.keyword = at("keyword").toString();
    s.include = words(at("include"));
    s.exclude = words(at("exclude"));
    s.maxSizeGb = limit(at("maxSizeGb"));
    s.enabled = settingsFlag(file, prefix + QStringLiteral("enabled"), true);
    s.autoReceive = settingsFlag(file, prefix + QStringLiteral("autoReceive"), false);
    // What the watch learnt of its page: asked only if it changed, backed off as it failed.
    s.state.validators.etag = at("etag").toByteArray().left(kLongestValidator);
    s.state.validators.lastModified = at("lastModified").toDateTime();
    s.state.failures = qBound(0, at("failures").toInt(), 1000);
    s.state.minutes = qBound(0, at("minutes").toInt(), 24 * 60);
    s.state.lastCheck = at("lastCheck").toDateTime();
    return s;
}

// The watch's choices from before subscriptions: one tick per tab, one for auto-receive.
QList<Subscription> fromOldChoices(const QSettings &file) {
    const bool autoReceive = settingsFlag(file, QStringLiteral("watch/autoReceive"), false);
    QList<Subscription> out;
    for (int i = 0; i < kTabCount; ++i) {
        Subscription s;
        s.tab = TabId(i);
        s.name = s.sourceCaption();
        s.enabled = settingsFlag(file, QString::fromLatin1(kOldWatchKeys[i]), true);
        s.autoReceive = autoReceive;
        out.append(s);
    }
    return out;
}

} // namespace

bool settingsFlag(const QSettings &file, const QString &key, bool fallback) {
    const QString value = file.value(key).toString().trimmed().toLower();
    if (value == u"true" || value == u"1")
        return true;
    if (value == u"false" || value == u"0")
        return false;
    return fallback;
}

QString Subscription::sourceCaption() const {
    return kind().tabCaption.toString() + (search ? QStringLiteral("搜索") : QString());
}

RunRequest Subscription::request() const {
    return RunRequest{&kind(), 1, search ? keyword : QString(), state.validators};
}

bool operator==(const Subscription &a, const Subscription &b) {
    return a.name == b.name && a.tab == b.tab && a.search == b.search && a.keyword == b.keyword &&
           a.include == b.include && a.exclude == b.exclude && a.maxSizeGb == b.maxSizeGb &&
           a.enabled == b.enabled && a.autoReceive == b.autoReceive;
}

bool passes(const Subscription &subscription, const QString &title, const QString &sizeText) {
    const QString shown = folded(title);
    for (const QString &word : foldedWords(subscription.exclude)) {
        if (shown.contains(word))
            return false;
    }
    for (const QString &word : foldedWords(subscription.include)) {
        if (!shown.contains(word))
            return false;
    }
    if (!subscription.maxSizeGb)
        return true;
    const std::optional<double> size = sizeInGb(sizeText);
    return !size || *size <= *subscription.maxSizeGb;
}

std::optional<double> sizeInGb(const QString &sizeText) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*([0-9]{1,3}(?:,[0-9]{3})+(?:\.[0-9]+)?|[0-9]*\.?[0-9]+)\s*(?:([kmgt])(?:i?b)?|b)\s*$)"));
    const QRegularExpressionMatch match = pattern.match(folded(sizeText));
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = match.captured(1).remove(u',').toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    const QString unit = match.captured(2);
    const int steps = unit.isEmpty() ? -3 : QStringView(u"kmgt").indexOf(unit) - 2;
    return number * std::pow(1024.0, steps);
}

QList<Subscription> readSubscriptions(const QSettings &file) {
    const QVariant size = file.value(QStringLiteral("subscriptions/size"));
    bool ok = false;
    const int count = size.toInt(&ok);
    if (!size.isValid() || !ok || count < 0)
        return fromOldChoices(file);
    QList<Subscription> out;
    // QSettings numbers array entries from 1.
    for (int i = 1; i <= qMin(count, kMostSubscriptions); ++i)
        out.append(readOne(file, QStringLiteral("subscriptions/%1/").arg(i)));
    return out;
}

void writeSubscriptions(QSettings &file, const QList<Subscription> &subscriptions) {
    file.remove(kArray);
    file.beginWriteArray(kArray, int(subscriptions.size()));
    for (qsizetype i = 0; i < subscriptions.size(); ++i) {
        const Subscription &s = subscriptions[i];
        file.setArrayIndex(int(i));
        file.setValue(QStringLiteral("name"), s.name);
        file.setValue(QStringLiteral("source"), s.kind().command.toString());
        file.setValue(QStringLiteral("keyword"), s.keyword);
        file.setValue(QStringLiteral("include"), s.include);
        file.setValue(QStringLiteral("exclude"), s.exclude);
        if (const std::optional<double> gb = limit(s.maxSizeGb.value_or(0)))
            file.setValue(QStringLiteral("maxSizeGb"), *gb);
        file.setValue(QStringLiteral("enabled"), s.enabled);
        file.setValue(QStringLiteral("autoReceive"), s.autoReceive);
        if (!s.state.validators.etag.isEmpty())
            file.setValue(QStringLiteral("etag"), s.state.validators.etag);
        if (s.state.validators.lastModified.isValid())
            file.setValue(QStringLiteral("lastModified"), s.state.validators.lastModified);
        if (s.state.failures > 0) {
            file.setValue(QStringLiteral("failures"), s.state.failures);
            file.setValue(QStringLiteral("minutes"), s.state.minutes);
        }
        if (s.state.lastCheck.isValid())
            file.setValue(QStringLiteral("lastCheck"), s.state.lastCheck);
    }
    file.endArray();
}
