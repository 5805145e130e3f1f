#include "watch/receiverecords.h"

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
    case ReceiveOutcome::NoAnswer:
        return ReceiveKind::NoAnswer;
    case ReceiveOutcome::Failed:
        break;
    }
    return ReceiveKind::Failed;
}

} // namespace

QList<GiftEntry> withProvenReceives(const Ledger *ledger, const QHash<QString, QDateTime> &proven,
                                    QList<GiftEntry> rows) {
    QStringList codes;
    for (const GiftEntry &row : rows)
        codes.append(row.code);
    const QHash<QString, QDateTime> known =
        ledger ? ledger->confirmedAmong(codes) : QHash<QString, QDateTime>();
    for (GiftEntry &row : rows)
        row.receivedAt = known.value(row.code, proven.value(row.code));
    return rows;
}

void recordAttempt(Ledger *ledger, const QString &code, const QString &title, ReceiveOutcome outcome,
                   const QString &marker) {
    if (ledger)
        ledger->recordReceive(code, title, kindOf(outcome), marker);
}
