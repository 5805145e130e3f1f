#pragma once

#include <QString>

// The XDG autostart entry (autostart/ under the user's configuration folder) that starts the
// program at login without its window: "登录时启动".
namespace autostart {

inline constexpr QStringView kBackgroundOption = u"--background";

QString entryPath();
// Whether the entry is there and says to start.
bool isOn();
// Writes the entry, starting `program` (this program's file) with --background, or removes it.
// Empty when done, else why not, in the system's words.
QString setOn(bool on, const QString &program);

} // namespace autostart
