#pragma once

#include "giftlist/giftentry.h"
#include "receive/receive.h"

#include <QList>

class Ledger;

// What the window takes from and gives to the gift ledger around a receive. With no ledger
// (or one that is off) each does nothing.

// The rows as a batch takes them: each with the time its code was proven received before, by
// the ledger or in this run (`proven`), and none where it was not.
QList<GiftEntry> withProvenReceives(const Ledger *ledger, const QHash<QString, QDateTime> &proven,
                                    QList<GiftEntry> rows);

// Records one receive attempt and what decided it.
void recordAttempt(Ledger *ledger, const GiftEntry &gift, ReceiveOutcome outcome, const QString &marker);
