#pragma once

#include "desktop/desktop.h"
#include "giftlist/giftentry.h"
#include "job/job.h"
#include "receive/receivejob.h"

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
    GiftPosts &posts; // the program's one queue of posts, with the ledger's claims
};

// The user's receives in the window: one selected gift, or every ticked row of a list one after
// another, through a ReceiveJob, told in the window's words. While a post is in flight a
// window-modal dialog keeps every other command of the window from starting; it stays until that
// post has been answered and handled. A batch's dialog counts "n/m" and offers "停止", which ends
// the batch after the row in flight; the batch ends with an account of itself.
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
    // now.
    void receiveBatch(const QList<GiftEntry> &rows);

    // A long failure reply shows its beginning in the box and more in the box's details.
    static constexpr qsizetype kBoxTextLimit = 1000;
    static constexpr qsizetype kBoxDetailsLimit = Desktop::kDetailsLimit;

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    // The flow has ended by itself (not after cancel()).
    void finished();

protected:
    QCoro::Task<> work() override;

private:
    // Runs the job with the dialog up; the summary once it has ended, none when cancelled.
    QCoro::Task<std::optional<ReceiveSummary>> run(QList<Gift> gifts, ReceiveRules rules, bool batch);
    void openDialog(ReceiveJob &job, int rows);
    void toldOne(ReceiveOutcome outcome);
    // The batch's account of itself.
    void toldBatch(const ReceiveSummary &done);
    void toldRow(const Gift &gift, ReceiveOutcome outcome, const QString &reply);
    void passedOver(const Gift &gift, PassReason reason);
    void info(const QString &text);

    ReceiveContext m_context;
    QPointer<QWidget> m_window;
    QPointer<ReceiveDialog> m_dialog;
    bool m_batch = false;
    QList<GiftEntry> m_rows; // the selected row, or the list's rows
};
