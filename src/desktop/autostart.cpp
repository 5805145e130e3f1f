#include "desktop/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace autostart {

namespace {

// A desktop entry's Exec value: an argument with a reserved character is quoted, and within
// quotes ", `, $ and \ are escaped (a path with a space must not become two arguments).
QString execArgument(const QString &argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    // A field code starts with %: a literal one is doubled, quoted or not.
    QString escaped = argument;
    escaped.replace(u'%', QStringLiteral("%%"));
    if (std::none_of(escaped.begin(), escaped.end(), [](QChar c) { return reserved.contains(c); }))
        return escaped;
    QString quoted = escaped;
    for (const char *special : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(special), u'\\' + QLatin1String(special));
    return u'"' + quoted + u'"';
}

} // namespace

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           u"/autostart/io.github.giftvane.Giftvane.desktop";
}

bool isOn() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A desktop's own "off" is Hidden=true in the same file.
    const QByteArray text = file.read(64 * 1024);
    return !text.contains("\nHidden=true") && text.contains("\nExec=");
}

QString setOn(bool on, const QString &program) {
    const QString path = entryPath();
    if (!on) {
        QFile file(path);
        return !file.exists() || file.remove() ? QString() : file.errorString();
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("无法创建文件夹 ") + QFileInfo(path).absolutePath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QString entry = u"[Desktop Entry]\nType=Application\nName=Giftvane\nComment=新礼包提醒\nExec=" +
                          execArgument(program) + u' ' + kBackgroundOption +
                          u"\nIcon=io.github.giftvane.Giftvane\nTerminal=false\nNoDisplay=true\n"
                          u"X-GNOME-Autostart-enabled=true\n";
    file.write(entry.toUtf8());
    return file.commit() ? QString() : file.errorString();
}

} // namespace autostart
