// Which rows a subscription wants, the sizes the sites write, and subscriptions in the file.
#include "watch/subscription.h"

#include <QSettings>
#include <QTemporaryFile>
#include <QTest>
#include <QTimeZone>

#include <memory>
#include <tuple>

using Subs = QList<Subscription>;
using Gb = std::optional<double>;
Q_DECLARE_METATYPE(Subscription)
Q_DECLARE_METATYPE(Gb)

namespace {

Subs pages(QList<bool> ticked = {true, true, true}, bool autoReceive = false) {
    Subs out;
    for (int i = 0; i < kTabCount; ++i)
        out.append({tabCaption(TabId(i)), TabId(i), false, {}, {}, {}, {}, ticked[i], autoReceive});
    return out;
}

} // namespace

class TestSubscription final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void passes_data() {
        QTest::addColumn<Subscription>("rules");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("passes");
        const auto row = [](const char *name, QStringList in, QStringList out, Gb gb, QString title,
                            QString size, bool passes) {
            QTest::newRow(name) << Subscription{.include = in, .exclude = out, .maxSizeGb = gb} << title
                                << size << passes;
        };
        row("any case, any width", {u"Pv"_qs, u"ｎｏ."_qs}, {}, {}, u"ＰＶ合集 Ｎｏ．3"_qs, {}, true);
        row("one word missing", {u"pv"_qs, u"合集"_qs}, {}, {}, u"PV No.3"_qs, {}, false);
        row("ideographic space", {u"游戏 合集"_qs}, {}, {}, u"游戏　合集"_qs, {}, true);
        row("exclude wins", {u"合集"_qs}, {u"beta"_qs}, {}, u"合集ＢＥＴＡ"_qs, {}, false);
        row("blank words", {u""_qs, u"　"_qs}, {u" "_qs}, {}, u"x"_qs, {}, true);
        row("at the limit in MB", {}, {}, 1.1, u"x"_qs, u"1126.4MB"_qs, true);
        row("over the limit", {}, {}, 2, u"x"_qs, u"2.1G"_qs, false);
        row("no size", {}, {}, 1, u"x"_qs, u"未知"_qs, true);
    }
    void passes() {
        QFETCH(Subscription, rules);
        QFETCH(QString, title);
        QFETCH(QString, size);
        QTEST(::passes(rules, title, size), "passes");
    }

    void sizes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Gb>("gb");
        const QStringList texts{u"2.3 GB"_qs, u"700 MB"_qs, u"37.8G"_qs,    u"1.5T"_qs,     u"512KB"_qs,
                                u"1.2 TB"_qs, u"800M"_qs,   u" 2.3gb "_qs,  u"1,024 MB"_qs, u"１．５ ＧＢ"_qs,
                                u"1 GiB"_qs,  u"未知"_qs,   u""_qs,         u"1.5"_qs,      u"GB"_qs,
                                u"1,5 GB"_qs, u"2 PB"_qs,   u"1 GB 以上"_qs};
        const QList<Gb> gb{2.3, 700 / 1024.0, 37.8, 1536, 512 / 1048576.0, 1228.8, 800 / 1024.0, 2.3,
                           1,   1.5,          1};
        for (qsizetype i = 0; i < texts.size(); ++i)
            QTest::newRow(qPrintable(texts[i])) << texts[i] << gb.value(i);
    }
    void sizes() {
        QFETCH(QString, text);
        QFETCH(Gb, gb);
        const Gb read = sizeInGb(text);
        QVERIFY2(read == gb || (read && gb && qFuzzyCompare(*read, *gb)),
                 qPrintable(QString::number(read.value_or(-1))));
    }

    void file_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("written");
        QTest::addColumn<Subs>("read");
        const Subscription full{u"甲"_qs,   TabId::Share, true, u"PV, 合集"_qs, {u"a,b"_qs, u"c"_qs},
                                {u"预"_qs}, 0.5};
        QTest::newRow("all written") << QByteArray() << true
                                     << Subs{full, {.tab = TabId::Tiquma}, {.enabled = false}};
        QTest::newRow("none written, not old") << QByteArray("[watch]\nlibao=false\n") << true << Subs();
        QTest::newRow("nothing: every page") << QByteArray() << false << pages();
        QTest::newRow("old choices") << QByteArray(
                                            "[watch]\nlibao=false\nshare=maybe\ntiquma=0\nautoReceive=true\n")
                                     << false << pages({false, true, false}, true);
        QTest::newRow("junk count") << QByteArray(
                                           "[subscriptions]\nsize=x\n[watch]\nshare=false\nautoReceive=2\n")
                                    << false << pages({true, false, true}, false);
        QTest::newRow("count below 0") << QByteArray("[subscriptions]\nsize=-1\n") << false << pages();
        QTest::newRow("junk values") << QByteArray(
                                            "[subscriptions]\nsize=5\n1\\source=nowhere\n1\\enabled=perhaps\n"
                                            "1\\autoReceive=yes\n1\\maxSizeGb=big\n2\\maxSizeGb=-3\n"
                                            "3\\maxSizeGb=nan\n4\\maxSizeGb=inf\n5\\maxSizeGb=0\n")
                                     << false << Subs(5);
        QTest::newRow("blank words, spaced source")
            << QByteArray("[subscriptions]\nsize=1\n1\\source=\" share-search \"\n1\\include=a, , b\n")
            << false << Subs{{.tab = TabId::Share, .search = true, .include = {u"a"_qs, u"b"_qs}}};
        QTest::newRow("huge count") << QByteArray("[subscriptions]\nsize=2000000000\n") << false
                                    << Subs(kMostSubscriptions);
    }
    void file() {
        QFETCH(QByteArray, ini);
        QFETCH(bool, written);
        QFETCH(Subs, read);
        QTemporaryFile out;
        QVERIFY(out.open() && out.write(ini) == ini.size() && out.flush());
        if (written) {
            QSettings file(out.fileName(), QSettings::IniFormat);
            writeSubscriptions(file, Subs(4, {.keyword = u"旧"_qs, .maxSizeGb = 9, .autoReceive = true}));
            writeSubscriptions(file, read);
        }
        QCOMPARE(readSubscriptions(QSettings(out.fileName(), QSettings::IniFormat)), read);
        if (!written || read.isEmpty())
            return;
        // What the watch learnt of the page goes with the subscription.
        const QDateTime at(QDate(2026, 12, 9), QTime(6, 30), QTimeZone::utc());
        read[0].state = {{"\"e1\"", at.addDays(-1)}, 2, 120, at.addSecs(7200), at};
        writeSubscriptions(*std::make_unique<QSettings>(out.fileName(), QSettings::IniFormat), read);
        const SubscriptionState back =
            readSubscriptions(QSettings(out.fileName(), QSettings::IniFormat))[0].state;
        QCOMPARE((std::tuple{back.validators.etag, back.validators.lastModified, back.failures, back.minutes,
                             back.lastCheck}),
                 (std::tuple{QByteArray("\"e1\""), at.addDays(-1), 2, 120, at}));
    }
};

QTEST_APPLESS_MAIN(TestSubscription)
#include "test_subscription.moc"
