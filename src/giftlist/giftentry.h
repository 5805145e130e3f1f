#pragma once

#include <QString>

// One row of a gift list: a resource found by a harvest.
struct GiftEntry {
    QString number; // the row's 1-based position, as text
    QString title;
    QString size;
    QString code; // empty until resolved
    QString key;  // lookup key: detail path or resource id (hidden column)
    QString mark; // validity mark "√" / "×" (hidden column)
    bool checked = false;
};
