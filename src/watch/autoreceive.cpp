#include "watch/autoreceive.h"

#include "ledger/ledger.h"
#include "receive/receive.h"
#include "watch/receiverecords.h"
#include "web/clouddisk.h"

AutoReceive::AutoReceive(WebClient &web, QString cloudDisk, Ledger *ledger, QList<HarvestedRow> gifts)
    : m_web(web)
    , m_cloudDisk(std::move(cloudDisk))
    , m_ledger(ledger)
    , m_gifts(std::move(gifts)) {}

QCoro::Task<> AutoReceive::work() {
    AutoReceiveSummary summary;
    // Never twice: a gift received since it was found, by hand or before a check was called
    // off, is passed over.
    QStringList codes;
    for (const HarvestedRow &gift : m_gifts)
        codes.append(gift.code);
    const QHash<QString, QDateTime> received =
        m_ledger ? m_ledger->confirmedAmong(codes) : QHash<QString, QDateTime>();
    for (qsizetype i = 0; i < m_gifts.size(); ++i) {
        const HarvestedRow &gift = m_gifts[i];
        if (gift.code.isEmpty() || received.contains(gift.code))
            continue;
        const Fetched reply = co_await PostGiftCode(m_web, m_cloudDisk, gift.code, &scope());
        if (isCancelled())
            co_return;
        const ReceiveOutcome outcome = readReceiveReply(reply.text, reply.ok(), clouddisk::kReceivedMarker);
        ++summary.attempted;
        recordAttempt(m_ledger, gift.code, gift.title, outcome,
                      markerOf(outcome, clouddisk::kReceivedMarker));
        if (outcome == ReceiveOutcome::Received)
            ++summary.received;
        summary.signInExpired = outcome == ReceiveOutcome::NotSignedIn;
        summary.membersOnly = outcome == ReceiveOutcome::MembersOnly;
        summary.noAnswer = outcome == ReceiveOutcome::NoAnswer;
        // The members-only answer will not change; the others may, later.
        if (summary.signInExpired || summary.noAnswer)
            summary.left = m_gifts.mid(i);
        if (summary.signInExpired || summary.membersOnly || summary.noAnswer)
            break;
    }
    finish(&AutoReceive::finished, summary);
}
