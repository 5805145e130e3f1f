#pragma once

#include <QLabel>
#include <QMouseEvent>
#include <QRect>
#include <QString>

#include <functional>

// Helpers for placing the window's controls as its design gives them: in twips, 15 to a pixel.
namespace controls {

inline QRect twips(int left, int top, int width, int height) {
    const auto px = [](int value) { return qRound(value / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

// Names the control and places it. Accessible names are not set: buttons and labels take
// theirs from their current text, the other controls from the label beside them.
template <typename Widget> Widget *place(Widget *widget, const char *objectName, const QRect &geometry) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setGeometry(geometry);
    return widget;
}

// A label that reports left clicks, for the notice marks "?".
class ClickLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && onClick)
            onClick();
    }
};

} // namespace controls
