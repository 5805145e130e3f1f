#include "app/menus.h"

#include "app/menubarkeys.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace menus {

void fillBar(QMenuBar *bar, std::initializer_list<MenuItem> items, QObject *context) {
    for (const MenuItem &item : items) {
        QAction *action = bar->addAction(item.caption);
        action->setObjectName(QString::fromLatin1(item.objectName));
        QObject::connect(action, &QAction::triggered, context, item.action);
    }
    bar->setObjectName(QStringLiteral("menubar"));
    bar->setAccessibleName(QStringLiteral("菜单栏"));
    new MenuBarKeys(bar);
}

QMenu *popup(std::initializer_list<MenuItem> items, QWidget *parent) {
    auto *menu = new QMenu(QStringLiteral("程序菜单"), parent);
    menu->setObjectName(QStringLiteral("menu"));
    menu->setAccessibleName(menu->title());
    for (const MenuItem &item : items) {
        if (!menu->isEmpty())
            menu->addSeparator();
        QAction *action = menu->addAction(item.caption);
        action->setObjectName(QString::fromLatin1(item.objectName));
        QObject::connect(action, &QAction::triggered, parent, item.action);
    }
    return menu;
}

} // namespace menus
