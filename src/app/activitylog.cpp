#include "app/activitylog.h"

#include "desktop/desktop.h"

#include <QAbstractListModel>
#include <QTextDocument>
#include <QTimer>

namespace activitylog {

// The log's lines, oldest first. Once lines have been moved out, row 0 says how many.
class Lines final : public QAbstractListModel {
    Q_DISABLE_COPY_MOVE(Lines)

public:
    Lines(int maxLines, QObject *parent)
        : QAbstractListModel(parent)
        , m_maxLines(maxLines) {}

    int rowCount(const QModelIndex &parent = {}) const override {
        return parent.isValid() ? 0 : int(m_lines.size()) + notice();
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
            role != Qt::DisplayRole)
            return {};
        return line(index.row());
    }

    QString line(int row) const {
        if (notice() && row == 0)
            return u"较早的" + QString::number(m_movedOut) + u"行日志已移出";
        return m_lines.value(row - notice());
    }
    const QStringList &lines() const { return m_lines; }
    qint64 movedOut() const { return m_movedOut; }

    void append(const QString &line) {
        const int row = rowCount();
        beginInsertRows({}, row, row);
        m_lines.append(line);
        endInsertRows();
        if (m_lines.size() > m_maxLines)
            moveOut(qMax(1, m_maxLines / 10));
    }

private:
    int notice() const { return m_movedOut > 0 ? 1 : 0; }

    // The oldest lines go in one block, so that the cost is spread over the block's lines. The
    // notice row comes at the top the first time and is rewritten after that.
    void moveOut(int count) {
        const int first = notice();
        beginRemoveRows({}, first, first + count - 1);
        m_lines.remove(0, count);
        endRemoveRows();
        if (first == 0)
            beginInsertRows({}, 0, 0);
        m_movedOut += count;
        if (first == 0)
            endInsertRows();
        else
            Q_EMIT dataChanged(index(0), index(0), {Qt::DisplayRole});
    }

    const int m_maxLines;
    QStringList m_lines;
    qint64 m_movedOut = 0;
};

} // namespace activitylog

using activitylog::Lines;

ActivityLog::ActivityLog(Desktop &desktop, QWidget *parent, int maxLines)
    : QListView(parent)
    , m_desktop(desktop)
    , m_lines(new Lines(qMax(1, maxLines), this))
    , m_newest(new QTimer(this)) {
    setModel(m_lines);
    setUniformItemSizes(true);
    setEditTriggers(NoEditTriggers);
    // Selecting a line must not lay the whole list out there and then: showNewest() scrolls.
    setAutoScroll(false);
    setAccessibleName(QStringLiteral("运行日志")); // unlabelled on screen: named by what it is
    m_newest->setSingleShot(true);
    m_newest->setInterval(0);
    connect(m_newest, &QTimer::timeout, this, &ActivityLog::showNewest);
    // Log lines carry titles from outside sites: the tooltip shows them as plain text.
    connect(this, &QListView::clicked, this,
            [this](const QModelIndex &index) { setToolTip(Qt::convertFromPlainText(line(index.row()))); });
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex &index) {
        m_desktop.information(window(), QStringLiteral("Corvane系列软件"), line(index.row()));
    });
}

void ActivityLog::append(const QString &line) {
    m_lines->append(line);
    if (!m_newest->isActive())
        m_newest->start();
}

void ActivityLog::showNewest() {
    const QModelIndex newest = m_lines->index(m_lines->rowCount() - 1);
    setCurrentIndex(newest);
    scrollTo(newest);
}

int ActivityLog::count() const {
    return m_lines->rowCount();
}

QString ActivityLog::line(int row) const {
    return m_lines->line(row);
}

int ActivityLog::currentRow() const {
    return currentIndex().row();
}

QStringList ActivityLog::linesContaining(const QString &text) const {
    return m_lines->lines().filter(text);
}

qint64 ActivityLog::movedOut() const {
    return m_lines->movedOut();
}
