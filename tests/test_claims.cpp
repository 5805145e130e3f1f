// Receiving durably and once: every post goes out only after its claim is in the ledger, across
// receive jobs, programs (two ledgers on one file stand for two) and failures of the file.
#include "ledger/ledger.h"
#include "receive/receivejob.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using sandbox::Fault;
using sandbox::Site;

namespace {

// One Giftvane on the shared ledger file: its client, its ledger, its queue of posts.
struct Program {
    WebClient web;
    Ledger ledger;
    GiftPosts posts{&ledger};
    explicit Program(const QString &path)
        : ledger(path) {}
};

struct Claims {
    QTemporaryDir dir;
    sandbox::Sandbox sites{3};
    QString path = dir.filePath(u"ledger.sqlite"_qs);

    Claims() {
        if (!sites.start())
            qFatal("the stand-in sites could not start");
    }
    static QList<Gift> gifts(int count, int from = 0) {
        QList<Gift> out;
        for (int i = from; i < from + count; ++i)
            out.append({u"gv" + QString::number(i) + u"0", u"礼包" + QString::number(i), u"√"_qs});
        return out;
    }
    // Runs a receive to its end; its summary.
    ReceiveSummary receive(Program &program, const QList<Gift> &gifts, const ReceiveRules &rules) {
        auto *job = new ReceiveJob(program.web, sites.address(Site::CloudDisk), program.posts, gifts, rules);
        QSignalSpy done(job, &ReceiveJob::finished);
        job->start();
        if (!runUntil([&] { return !done.isEmpty(); }, 20000))
            qFatal("the receive did not end");
        deleteEndedJobs();
        return done.first().first().value<ReceiveSummary>();
    }
    QStringList sent() const { return sentCodes(sites); }
};

} // namespace

Q_DECLARE_METATYPE(ReceiveSummary)

class TestClaims final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void twoProgramsOnOneLedgerPostEachCodeOnce() {
        Claims c;
        Program first(c.path), second(c.path);
        QVERIFY(first.ledger.open() && second.ledger.open());
        QVERIFY(signIn(first.web, c.sites) && signIn(second.web, c.sites));
        c.sites.setLatency(10);
        const QList<Gift> gifts = Claims::gifts(6);
        auto *a = new ReceiveJob(first.web, c.sites.address(Site::CloudDisk), first.posts, gifts,
                                 ReceiveRules::automatic());
        auto *b = new ReceiveJob(second.web, c.sites.address(Site::CloudDisk), second.posts, gifts,
                                 ReceiveRules::batch());
        QSignalSpy aDone(a, &ReceiveJob::finished), bDone(b, &ReceiveJob::finished);
        a->start();
        b->start();
        QVERIFY(runUntil([&] { return !aDone.isEmpty() && !bDone.isEmpty(); }, 20000));
        deleteEndedJobs();
        QStringList sent = c.sent();
        sent.sort();
        QCOMPARE(sent.size(), gifts.size()); // each once, whichever program posted it
        QCOMPARE(QSet<QString>(sent.begin(), sent.end()).size(), gifts.size());
    }

    void aFileThatCannotTakeTheClaimMeansNoPost_data() {
        QTest::addColumn<bool>("held"); // by another program's lock; else full
        QTest::newRow("held by another program") << true;
        QTest::newRow("disk full") << false;
    }
    void aFileThatCannotTakeTheClaimMeansNoPost() {
        QFETCH(bool, held);
        Claims c;
        Program program(c.path);
        QVERIFY(program.ledger.open());
        QVERIFY(signIn(program.web, c.sites));
        QProcess holder;
        if (held) {
            holder.start(QStringLiteral(LEDGER_WRITER), {u"lock"_qs, c.path});
            QVERIFY(holder.waitForReadyRead(scaled(10000)));
        } else {
            // The file may not grow by another page, and its pages are filled: the next claim of
            // a new code finds the disk full.
            for (const QString &name : QSqlDatabase::connectionNames()) {
                if (name.endsWith(u"-checkpoint"))
                    continue; // another thread's
                QSqlQuery fill(QSqlDatabase::database(name));
                QVERIFY(fill.exec(u"PRAGMA page_count"_qs) && fill.next());
                QVERIFY(fill.exec(u"PRAGMA max_page_count = "_qs + fill.value(0).toString()));
                for (int i = 0;
                     fill.exec(u"INSERT INTO codes(code, first_seen, last_seen) VALUES('filler"_qs +
                               QString::number(i) + u"', 0, 0)"_qs);
                     ++i) {
                }
            }
        }
        const QList<Gift> gifts = Claims::gifts(3);
        for (const ReceiveRules &rules : {ReceiveRules::automatic(), ReceiveRules::batch()}) {
            const ReceiveSummary done = c.receive(program, gifts, rules);
            QCOMPARE(done.attempted, 0);
            QCOMPARE(done.left.size(), gifts.size()); // nothing lost: tried again later
        }
        QVERIFY(c.sent().isEmpty());
        if (held) {
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(scaled(10000)));
            // Free again: each goes once, and never again by itself.
            QCOMPARE(c.receive(program, gifts, ReceiveRules::automatic()).attempted, 3);
            QCOMPARE(c.receive(program, gifts, ReceiveRules::batch()).attempted, 0);
            QCOMPARE(c.sent().size(), 3);
        }
    }

    void aPostWithoutAnAnswerIsUnknownAndNotPostedAgain() {
        Claims c;
        Program program(c.path);
        QVERIFY(program.ledger.open());
        QVERIFY(signIn(program.web, c.sites));
        program.web.setTimeouts(scaled(300), scaled(300));
        c.sites.setFault(u"ct=filegift"_qs, Fault::Hang);
        const QList<Gift> gifts = Claims::gifts(2);
        QCOMPARE(c.receive(program, gifts, ReceiveRules::automatic()).stop, ReceiveStop::NoAnswer);
        const auto claims = program.ledger.claimsAmong({gifts[0].code});
        QCOMPARE(claims.value(gifts[0].code).first, ClaimState::Unknown);
        QCOMPARE(program.ledger.rows({}).first().lastKind, ReceiveKind::Unknown);
        c.sites.clearFaults();
        // Not by itself, nor by a batch; only by the user's own receive of that gift.
        QCOMPARE(c.receive(program, gifts, ReceiveRules::automatic()).attempted, 1);
        QCOMPARE(c.receive(program, gifts.mid(0, 1), ReceiveRules::batch()).attempted, 0);
        QCOMPARE(c.receive(program, gifts.mid(0, 1), ReceiveRules::one()).attempted, 1);
        QCOMPARE(c.sent(), (QStringList{gifts[0].code, gifts[1].code, gifts[0].code}));
    }

    void signingOutStopsThePostsAskedForBefore() {
        Claims c;
        Program program(c.path);
        QVERIFY(program.ledger.open());
        QVERIFY(signIn(program.web, c.sites));
        c.sites.setLatency(30);
        QObject::connect(&program.posts, &GiftPosts::posted, [&] { program.posts.signOut(); });
        QSignalSpy refused(&program.posts, &GiftPosts::signInRefused);
        const ReceiveSummary done = c.receive(program, Claims::gifts(3), ReceiveRules::automatic());
        QCOMPARE(done.stop, ReceiveStop::SignedOut);
        QCOMPARE(c.sent().size(), 1);
        QCOMPARE(done.left.size(), 2);
        QCOMPARE(refused.size(), 0); // no expiry: the user left
    }

    void claimsLeftPostingByAProgramThatWentAreUnknown() {
        Claims c;
        {
            Ledger gone(c.path);
            QVERIFY(gone.open());
            gone.setClock([] { return QDateTime::currentDateTimeUtc().addSecs(-600); });
            QCOMPARE(gone.claim(u"gv10"_qs, {}, false).result, Claim::Result::Taken);
        }
        Ledger next(c.path);
        QVERIFY(next.open());
        QCOMPARE(next.claimsLeftUnknown(), 1);
        QCOMPARE(next.claim(u"gv10"_qs, {}, false).held, ClaimState::Unknown);
        QCOMPARE(next.claim(u"gv10"_qs, {}, true).result, Claim::Result::Taken);
    }
};

QTEST_GUILESS_MAIN(TestClaims)
#include "test_claims.moc"
