#pragma once

#include <QFrame>
#include <QTime>

#include <array>
#include <functional>

class QLabel;

// The status bar "S1": panel 1 "运行提示：", panel 2 what the program says now, panel 3 the
// version, panel 4 the clock (hour:minute:second without leading zeros, every second).
class StatusBar final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusBar)

public:
    StatusBar(QWidget *parent, std::function<QTime()> clock);

    // Panels count from 1. Texts are shown as plain text: they carry titles from outside sites.
    QString text(int panel) const;
    void setText(int panel, const QString &text);

private:
    std::array<QLabel *, 4> m_panels{};
};
