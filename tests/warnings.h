#pragma once

#include <QRegularExpression>
#include <QTest>

// Warnings are failures: a test fails on any warning the program causes. Only notices that
// the test machine's virtual display and browser engine print on their own are let through.
inline void failOnWarnings() {
    QTest::failOnWarning(
        QRegularExpression(QStringLiteral("^(?!QStandardPaths: |This plugin does not support)")));
}
