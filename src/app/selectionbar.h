#pragma once

#include <QFrame>

#include <array>

class GiftListModel;
class QLabel;
class QRadioButton;

// The selection bar "mee": how many rows of the current list are ticked, and "全选" / "取消"
// for all of them. It reports what it shows through statusText().
class SelectionBar final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SelectionBar)

public:
    explicit SelectionBar(QWidget *parent);

    // The list the bar works on: the current tab's. The bar shows that list's count at once
    // (hidden when none is ticked), without a word in the status bar: the tab's caption goes there.
    void setList(GiftListModel *list);
    // A row was ticked or cleared: count again, show or hide.
    void recount();

Q_SIGNALS:
    void statusText(const QString &text);

private:
    void checkAll();
    void uncheckAll();
    void showCount(int count);

    GiftListModel *m_list = nullptr;
    QLabel *m_label;
    std::array<QRadioButton *, 2> m_options;
};
