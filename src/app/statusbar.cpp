#include "app/statusbar.h"

#include "app/controls.h"

#include <QLabel>
#include <QTimer>

StatusBar::StatusBar(QWidget *parent, std::function<QTime()> clock)
    : QFrame(parent) {
    controls::place(this, "S1", controls::twips(0, 8235, 14670, 615));
    const int widths[4] = {1440, 10275, 1440, 1440};
    const QString starts[4] = {QStringLiteral("运行提示："), QStringLiteral("检测更新中.."), QString(),
                               QStringLiteral("Time")};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        m_panels[i] = new QLabel(starts[i], this);
        m_panels[i]->setTextFormat(Qt::PlainText);
        m_panels[i]->setObjectName(QStringLiteral("S1Panel%1").arg(i + 1));
        m_panels[i]->setGeometry(qRound(left / 15.0), 2, qRound(widths[i] / 15.0), height() - 4);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        left += widths[i];
    }
    auto *timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer1"));
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, [this, clock = std::move(clock)] {
        m_panels[3]->setText(clock().toString(QStringLiteral("H:m:s")));
    });
    timer->start();
}

QString StatusBar::text(int panel) const {
    return m_panels.at(panel - 1)->text();
}

void StatusBar::setText(int panel, const QString &text) {
    m_panels.at(panel - 1)->setText(text);
}
