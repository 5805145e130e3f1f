#pragma once

#include "desktop/desktop.h"

// A desktop that shows nothing: benchmarks measure the program, not dialogs.
class NoDesktop final : public Desktop {
public:
    void message(QWidget *, Icon, const QString &, const QString &, const QString &) override {}
    QString saveFileName(QWidget *, const QString &, const QString &, SaveMode) override { return {}; }
    void openUrl(const QUrl &) override {}
    void setClipboardText(const QString &) override {}
};
