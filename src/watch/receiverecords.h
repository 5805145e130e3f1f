#pragma once

#include "giftlist/giftentry.h"
#include "receive/receive.h"

#include <QList>

class Ledger;

// What receiving takes from and gives to the gift ledger, in the window and in the new-gift
// watch. With no ledger (or one that is off) each does nothing.

// The rows as a batch takes them: each with the time its code was proven received before, by
// the ledger or in this run (`proven`), and none where it was not.
QList<GiftEntry> withProvenReceives(const Ledger *ledger, const QHash<QString, QDateTime> &proven,
                                    QList<GiftEntry> rows);

// Records one receive attempt and what decided it.
void recordAttempt(Ledger *ledger, const QString &code, const QString &title, ReceiveOutcome outcome,
                   const QString &marker);
