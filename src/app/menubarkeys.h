#pragma once

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>

// F10 takes the keyboard to the menu bar, whatever the style does with Alt: the arrows move
// along it, Enter or Space runs the item, Esc (or F10 again) goes back where the keyboard was.
class MenuBarKeys final : public QObject {
    Q_DISABLE_COPY_MOVE(MenuBarKeys)

public:
    explicit MenuBarKeys(QMenuBar *bar)
        : QObject(bar)
        , m_bar(bar) {
        auto *f10 = new QShortcut(QKeySequence(Qt::Key_F10), bar->window());
        connect(f10, &QShortcut::activated, this, [this] { m_bar->hasFocus() ? leave() : enter(); });
        bar->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::FocusOut) {
            // Set as a pop-up's item, the highlight would outlast the focus.
            if (static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
                m_bar->setActiveAction(nullptr);
            return false;
        }
        if (event->type() != QEvent::KeyPress || !m_bar->hasFocus())
            return false;
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (QAction *action = m_bar->activeAction()) {
                leave(); // before the item runs: it may open a box
                action->trigger();
            }
            return true;
        case Qt::Key_Escape:
            leave();
            return true;
        default:
            return false; // the arrows are the bar's own
        }
    }

private:
    void enter() {
        m_before = QApplication::focusWidget();
        m_bar->setFocus(Qt::MenuBarFocusReason);
        for (QAction *action : m_bar->actions()) {
            if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
                m_bar->setActiveAction(action);
                break;
            }
        }
    }
    void leave() {
        m_bar->setActiveAction(nullptr);
        if (m_before)
            m_before->setFocus(Qt::MenuBarFocusReason);
        else
            m_bar->clearFocus();
    }

    QMenuBar *m_bar;
    QPointer<QWidget> m_before;
};
