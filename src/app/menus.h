#pragma once

#include <QString>

#include <functional>
#include <initializer_list>

class QMenu;
class QMenuBar;
class QObject;
class QWidget;

// A command of a menu: the name tests and accessibility tools find it by, its caption, and what
// it does.
struct MenuItem {
    const char *objectName;
    QString caption;
    std::function<void()> action;
};

namespace menus {

// The menu bar's commands, in order, reachable by keyboard; `context` ends their actions.
void fillBar(QMenuBar *bar, std::initializer_list<MenuItem> items, QObject *context);
// "程序菜单", the commands on a list's rows, each two apart by a separator.
QMenu *popup(std::initializer_list<MenuItem> items, QWidget *parent);

} // namespace menus
