#pragma once

#include "watch/subscription.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;

// "添加" and "修改" of the watch's subscriptions: a name, a source ("资源①" … "资源②搜索" with its
// keyword), the rules ("包含", "不包含", "大小不超过" N GB) and "自动接收". Words are separated by
// blanks. Window-modal, opened without waiting: `chosen` carries the result.
class SubscriptionDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SubscriptionDialog)

public:
    // `signInKept` says whether "自动接收" can be ticked (it stays as it was otherwise).
    SubscriptionDialog(const Subscription &subscription, bool signInKept, QWidget *parent = nullptr);

    Subscription subscription() const;
    // Why the fields cannot be taken; empty when they can.
    QString problem() const;

    void accept() override;

Q_SIGNALS:
    void chosen(const Subscription &subscription);

private:
    void sourceChanged();

    Subscription m_start;
    QLineEdit *m_name;
    QComboBox *m_source;
    QLineEdit *m_keyword;
    QLineEdit *m_include;
    QLineEdit *m_exclude;
    QDoubleSpinBox *m_maxSize;
    QCheckBox *m_autoReceive;
    QLabel *m_problem;
};
