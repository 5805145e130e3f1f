#pragma once

#include <QListView>

class Desktop;
class QTimer;

namespace activitylog {
class Lines;
}

// The window's activity log ("List1"): one line per event, the newest selected and in view. A
// line costs the same whether the log holds ten lines or ten thousand: the lines are a plain
// list model shown with uniform item sizes, and selecting and scrolling to the newest line is
// done once per turn of the event loop, not once per line. Past its most lines (kMaxLines) the
// oldest tenth is moved out at once, and the first line says how many lines have gone.
class ActivityLog final : public QListView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActivityLog)

public:
    static constexpr int kMaxLines = 5000;

    // Double-clicked lines are shown through the desktop, titled as the window's messages are.
    ActivityLog(Desktop &desktop, QWidget *parent, int maxLines = kMaxLines);

    void append(const QString &line);
    int count() const;
    QString line(int row) const;
    // The row of the selected line; the newest once the event loop has turned.
    int currentRow() const;
    // The lines that contain `text`, oldest first.
    QStringList linesContaining(const QString &text) const;
    // How many of the oldest lines have been moved out so far.
    qint64 movedOut() const;

private:
    void showNewest();

    Desktop &m_desktop;
    activitylog::Lines *m_lines;
    QTimer *m_newest;
};
