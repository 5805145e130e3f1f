#include "app/selectionbar.h"

#include "app/controls.h"
#include "giftlist/giftlistmodel.h"

#include <QLabel>
#include <QRadioButton>

using controls::place;
using controls::twips;

SelectionBar::SelectionBar(QWidget *parent)
    : QFrame(parent)
    , m_label(place(new QLabel(QStringLiteral("当前已选择：NONE个礼包"), this), "Label4",
                    twips(120, 150, 2415, 375)))
    , m_options{
          place(new QRadioButton(QStringLiteral("全选"), this), "Option3", twips(120, 840, 1095, 495)),
          place(new QRadioButton(QStringLiteral("取消"), this), "Option3", twips(1320, 840, 1095, 495))} {
    setObjectName(QStringLiteral("mee"));
    setFrameShape(QFrame::Panel);
    setAutoFillBackground(true);
    for (int i = 0; i < 2; ++i)
        m_options[i]->setProperty("index", i);
    connect(m_options[0], &QRadioButton::clicked, this, &SelectionBar::checkAll);
    connect(m_options[1], &QRadioButton::clicked, this, &SelectionBar::uncheckAll);
    hide();
}

namespace {

QString countText(int count) {
    return u"当前已选择：" + QString::number(count) + u"个礼包";
}

} // namespace

void SelectionBar::setList(GiftListModel *list) {
    m_list = list;
    const int count = list->CheckedCount();
    setVisible(count != 0);
    if (count != 0)
        m_label->setText(countText(count));
}

void SelectionBar::showCount(int count) {
    const QString text = countText(count);
    m_label->setText(text);
    Q_EMIT statusText(text);
}

void SelectionBar::recount() {
    const int count = m_list->CheckedCount();
    setVisible(count != 0);
    if (count != 0)
        showCount(count);
    else
        Q_EMIT statusText(QStringLiteral("已取消全部礼包"));
}

void SelectionBar::checkAll() {
    // The total is shown, not a running count; the bar is neither shown nor hidden here.
    m_list->setAllChecked(true);
    showCount(m_list->rowCount());
}

void SelectionBar::uncheckAll() {
    m_list->setAllChecked(false);
    m_options[1]->setAutoExclusive(false);
    m_options[1]->setChecked(false);
    m_options[1]->setAutoExclusive(true);
    hide();
}
