#pragma once

#include "giftlist/giftentry.h"
#include "receive/receive.h"

#include <QList>

class Ledger;

// What the window takes from and gives to the gift ledger around a receive. With no ledger
// (or one that is off) each does nothing.

// The rows with the time each code was received before, as far as the ledger knows.
QList<GiftEntry> withReceivedTimes(const Ledger *ledger, QList<GiftEntry> rows);

// Records one receive attempt and what decided it.
void recordAttempt(Ledger *ledger, const GiftEntry &gift, ReceiveOutcome outcome, const QString &marker);
