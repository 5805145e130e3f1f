#pragma once

#include "desktop/desktop.h"
#include "giftlist/giftentry.h"
#include "receive/receive.h"
#include "web/job.h"

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
    GiftPosts *posts = nullptr; // shared with every other receive; none: this one's own
    // Whether a code is held as received (by the ledger, or in this run); none: never.
    std::function<bool(const QString &code)> received;
};

// Receiving gifts into the cloud disk: one selected gift, or every ticked row of a list one
// after another. While a post is in flight a window-modal dialog keeps every other command
// of the window from starting; it stays until that post has been answered and handled. A
// batch's dialog offers "停止", which ends the batch after the row in flight.
//
// A job (see Job): cancelled, it shows and sends nothing more.
class ReceiveFlow final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReceiveFlow)

public:
    // The window is the parent of the dialog and of every message box.
    ReceiveFlow(ReceiveContext context, QWidget *window);
    ~ReceiveFlow() override;

    // Starts receiving the selected row (an empty entry when none is selected).
    void receiveOne(const GiftEntry &selected);
    // Starts receiving the ticked rows of a list, in list order; the rows are taken as they are
    // now. A row whose code was received before is passed over: nothing is posted for it.
    void receiveBatch(const QList<GiftEntry> &rows);

    // A long failure reply shows its beginning in the box and more in the box's details.
    static constexpr qsizetype kBoxTextLimit = 1000;
    static constexpr qsizetype kBoxDetailsLimit = Desktop::kDetailsLimit;

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    // One post was answered (or failed) and read; the marker that decided it ("成功接收" where
    // the reply holds it, also in a batch).
    void attempted(const GiftEntry &gift, ReceiveOutcome outcome, const QString &marker);
    // The flow has ended by itself (not after cancel()).
    void finished();

protected:
    QCoro::Task<> work() override;

private:
    QCoro::Task<> single(const GiftEntry &gift);
    QCoro::Task<> batch(QList<GiftEntry> rows);
    // Posts one code with the dialog up; empty text when the post failed or was cancelled. With
    // `unlessReceived`, none for a code received meanwhile (by the watch, say).
    QCoro::Task<std::optional<Fetched>> post(const QString &code, bool unlessReceived);
    void openDialog(const QString &text, int rows, bool stoppable);
    void info(const QString &text);

    ReceiveContext m_context;
    GiftPosts m_ownPosts;
    QPointer<QWidget> m_window;
    QPointer<ReceiveDialog> m_dialog;
    bool m_batch = false;
    QList<GiftEntry> m_rows; // the selected row, or the list's rows
    bool m_stopRequested = false;
};
