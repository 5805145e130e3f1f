#include "app/remembered.h"

#include "ledger/ledger.h"

namespace {

ReceiveKind kindOf(ReceiveOutcome outcome) {
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        return ReceiveKind::NotSignedIn;
    case ReceiveOutcome::Received:
        return ReceiveKind::Received;
    case ReceiveOutcome::MembersOnly:
        return ReceiveKind::MembersOnly;
    case ReceiveOutcome::UnderReview:
        return ReceiveKind::UnderReview;
    case ReceiveOutcome::Failed:
        break;
    }
    return ReceiveKind::Failed;
}

} // namespace

QList<GiftEntry> withReceivedTimes(const Ledger *ledger, QList<GiftEntry> rows) {
    if (!ledger)
        return rows;
    QStringList codes;
    for (const GiftEntry &row : rows)
        codes.append(row.code);
    const QHash<QString, QDateTime> received = ledger->receivedAmong(codes);
    for (GiftEntry &row : rows)
        row.receivedAt = received.value(row.code, row.receivedAt);
    return rows;
}

void recordAttempt(Ledger *ledger, const GiftEntry &gift, ReceiveOutcome outcome, const QString &marker) {
    if (ledger)
        ledger->recordReceive(gift.code, gift.title, kindOf(outcome), marker);
}
