#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// One row of a gift list: a resource found by a harvest.
struct GiftEntry {
    quint64 id = 0; // which row this is, whatever its place in the list later
    QString number; // the row's 1-based position, as text
    QString title;
    QString size;
    QString code; // empty until resolved
    QString key;  // lookup key: detail path or resource id (hidden column)
    QString mark; // validity mark "√" / "×" (hidden column)
    bool checked = false;
    QDateTime receivedAt; // when this code was received before, as far as the program knows
};
