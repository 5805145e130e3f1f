#pragma once

#include "harvest/harvestkinds.h"

#include <QFlags>

// The controls a run locks: buttons of its own tab, and the window's tab control.
enum class TabControl {
    TabBar = 1 << 0,       // SSTab1
    NextPage = 1 << 1,     // "直接获取"
    PreviousPage = 1 << 2, // "上一页"
    Export = 1 << 3,       // "导出礼包"
    Search = 1 << 4,       // "开始搜索"
};
Q_DECLARE_FLAGS(TabControls, TabControl)
Q_DECLARE_OPERATORS_FOR_FLAGS(TabControls)

// What a run disables when it starts and enables again when it ends.
struct RunLocks {
    TabControls disabledAtStart;
    TabControls enabledAtAnyEnd;
    TabControls enabledAtCompleteEnd;
};

RunLocks runLocks(const HarvestKind &kind);
