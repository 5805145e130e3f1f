#pragma once

#include "harvest/harvestrun.h"

#include <QFlags>
#include <QString>

// The three tabs: 资源① the listing site's gift pages, 资源② the share site, 资源③ the
// listing site's code pages.
enum class TabId { Libao, Share, Tiquma };
inline constexpr int kTabCount = 3;

inline QString tabCaption(TabId tab) {
    static const QString captions[kTabCount] = {QStringLiteral("资源①"), QStringLiteral("资源②"),
                                                QStringLiteral("资源③")};
    return captions[int(tab)];
}

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

RunLocks runLocks(RunKind kind, TabId tab);
