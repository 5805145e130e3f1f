#pragma once

#include "desktop/desktop.h"
#include "giftlist/giftentry.h"
#include "receive/receive.h"
#include "web/requestscope.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class ReceiveDialog;
class WebClient;
class QWidget;

// What a receive needs from outside.
struct ReceiveContext {
    WebClient &web;
    QString cloudDisk; // base address
    Desktop &desktop;
};

// Receiving gifts into the cloud disk: one selected gift, or every ticked row of a list one
// after another. While a post is in flight a window-modal dialog keeps every other command
// of the window from starting; it stays until that post has been answered and handled. A
// batch's dialog offers "停止", which ends the batch after the row in flight.
//
// A job: the owner connects its signals, starts it once, may cancel it (it then shows and
// sends nothing more) and never deletes it while it runs; it deletes itself once it has
// ended.
class ReceiveFlow final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReceiveFlow)

public:
    // The window is the parent of the dialog and of every message box.
    ReceiveFlow(ReceiveContext context, QWidget *window);
    ~ReceiveFlow() override;

    // Receives the selected row (an empty entry when none is selected).
    void receiveOne(const GiftEntry &selected);
    // Receives the ticked rows of a list, in list order; the rows are taken as they are now.
    // A row whose code was received before is passed over: nothing is posted for it.
    void receiveBatch(const QList<GiftEntry> &rows);
    void cancel();

    // A long failure reply shows its beginning in the box and more in the box's details.
    static constexpr qsizetype kBoxTextLimit = 1000;
    static constexpr qsizetype kBoxDetailsLimit = Desktop::kDetailsLimit;

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    // One post was answered (or failed) and read; the marker that decided it.
    void attempted(const GiftEntry &gift, ReceiveOutcome outcome, const QString &marker);
    // The flow has ended by itself (not after cancel()).
    void finished();

private:
    QCoro::Task<> single(GiftEntry gift);
    QCoro::Task<> batch(QList<GiftEntry> rows);
    // Posts one code with the dialog up; empty text when the post failed or was cancelled.
    QCoro::Task<QString> post(const QString &code);
    void openDialog(const QString &text, int rows, bool stoppable);
    void info(const QString &text);
    void end();

    ReceiveContext m_context;
    QPointer<QWidget> m_window;
    QPointer<ReceiveDialog> m_dialog;
    RequestScope m_scope;
    std::optional<QCoro::Task<>> m_task;
    bool m_stopRequested = false;
    bool m_cancelled = false;
    bool m_destroying = false;
};
