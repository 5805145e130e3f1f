#include "app/receiveflow.h"

#include "desktop/desktop.h"
#include "receive/replies.h"
#include "web/webclient.h"

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace receivetexts;

// The dialog shown while posts are in flight. Neither Esc nor the close button dismiss it:
// it goes when the flow has handled the post in flight.
class ReceiveDialog final : public QDialog {
public:
    ReceiveDialog(QWidget *window, const QString &text, int rows, bool stoppable)
        : QDialog(window) {
        setObjectName(QStringLiteral("ReceiveDialog"));
        setWindowTitle(QStringLiteral("Giftvane"));
        setWindowModality(Qt::WindowModal);
        setWindowFlag(Qt::WindowCloseButtonHint, false);
        auto *layout = new QVBoxLayout(this);
        auto *label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
        m_progress = new QProgressBar(this);
        m_progress->setRange(0, rows); // 0..0: busy
        m_progress->setFormat(QStringLiteral("%v/%m"));
        m_progress->setTextVisible(rows > 0);
        m_progress->setAccessibleName(text);
        layout->addWidget(m_progress);
        if (stoppable) {
            m_stop = new QPushButton(QStringLiteral("停止"), this);
            m_stop->setObjectName(QStringLiteral("stopButton"));
            m_stop->setAutoDefault(false);
            layout->addWidget(m_stop, 0, Qt::AlignRight);
        }
        setMinimumWidth(320);
    }

    QPushButton *stopButton() const { return m_stop; }
    void setRowsDone(int rows) { m_progress->setValue(rows); }
    void showStopping() {
        m_stop->setText(QStringLiteral("正在停止.."));
        m_stop->setEnabled(false);
    }

    void reject() override {} // Esc: the post in flight decides when the dialog goes

protected:
    void closeEvent(QCloseEvent *event) override { event->ignore(); }

private:
    QProgressBar *m_progress = nullptr;
    QPushButton *m_stop = nullptr;
};

namespace {

Gift giftOf(const GiftEntry &entry) {
    return {entry.code, entry.title, entry.mark};
}

} // namespace

ReceiveFlow::ReceiveFlow(ReceiveContext context, QWidget *window)
    : m_context(std::move(context))
    , m_window(window) {}

ReceiveFlow::~ReceiveFlow() {
    delete m_dialog.data();
}

void ReceiveFlow::receiveOne(const GiftEntry &selected) {
    m_batch = false;
    m_rows = {selected};
    start();
}

void ReceiveFlow::receiveBatch(const QList<GiftEntry> &rows) {
    m_batch = true;
    m_rows = rows;
    start();
}

void ReceiveFlow::info(const QString &text) {
    m_context.desktop.information(m_window, QStringLiteral("Corvane系列软件"), text);
}

QCoro::Task<> ReceiveFlow::work() {
    if (!m_batch) {
        // Built outside the co_await: GCC 12 miscompiles braced lists inside it.
        const QList<Gift> selected{giftOf(m_rows.first())};
        const std::optional<ReceiveSummary> done = co_await run(selected, ReceiveRules::one(), false);
        if (done && done->stop == ReceiveStop::SignedOut)
            info(kNotSignedIn.toString());
    } else if (m_rows.isEmpty()) {
        info(QStringLiteral("请先获取礼包"));
    } else {
        QList<Gift> ticked;
        for (const GiftEntry &row : std::as_const(m_rows)) {
            if (row.checked)
                ticked.append(giftOf(row));
        }
        // (No co_await inside a conditional expression: GCC 12 mishandles the temporaries there.)
        std::optional<ReceiveSummary> done;
        if (!ticked.isEmpty())
            done = co_await run(ticked, ReceiveRules::batch(), true);
        if (done)
            toldBatch(*done);
    }
    delete m_dialog.data();
    if (!isCancelled())
        finish(&ReceiveFlow::finished);
}

QCoro::Task<std::optional<ReceiveSummary>> ReceiveFlow::run(QList<Gift> gifts, ReceiveRules rules,
                                                            bool batch) {
    const int count = int(gifts.size());
    QPointer<ReceiveJob> job = new ReceiveJob(m_context.web, m_context.cloudDisk, m_context.posts,
                                              std::move(gifts), std::move(rules));
    connect(job, &ReceiveJob::passedOver, this, &ReceiveFlow::passedOver);
    connect(job, &ReceiveJob::answered, this,
            [this, batch](const Gift &gift, ReceiveOutcome outcome, const QString &reply, bool) {
                if (batch)
                    return toldRow(gift, outcome, reply);
                delete m_dialog.data(); // the answer is shown without the dialog in front of it
                toldOne(outcome);
            });
    std::optional<ReceiveSummary> summary;
    connect(job, &ReceiveJob::finished, this, [&summary](const ReceiveSummary &done) { summary = done; });
    connect(&scope(), &RequestScope::aborted, job, &ReceiveJob::cancel);

    openDialog(*job, batch ? count : 0);
    job->start();
    co_await scope().until(job.data(), &ReceiveJob::finished);
    if (isCancelled())
        co_return std::nullopt;
    co_return summary;
}

void ReceiveFlow::toldBatch(const ReceiveSummary &done) {
    if (done.stop == ReceiveStop::SignedOut) {
        Q_EMIT statusText(kNotSignedIn.toString());
        Q_EMIT logLine(QStringLiteral("请先登录115.."));
    }
    const QString account = u"批量接收完毕：成功" + QString::number(done.received) + u"个,失败" +
                            QString::number(done.failed()) + u"个,跳过" + QString::number(done.skipped) +
                            u"个";
    Q_EMIT logLine(account);
    // Where the cloud disk or a sign-out stopped the batch, the status bar keeps saying why.
    if (done.stop == ReceiveStop::None || done.stop == ReceiveStop::Asked)
        Q_EMIT statusText(account);
}

void ReceiveFlow::openDialog(ReceiveJob &job, int rows) {
    // (Not inside the coroutine: GCC 12 cannot take QStringLiteral there.)
    m_dialog = new ReceiveDialog(
        m_window, m_batch ? QStringLiteral("正在批量接收礼包..") : QStringLiteral("正在接收礼包.."), rows,
        m_batch);
    if (QPushButton *stop = m_dialog->stopButton()) {
        connect(stop, &QPushButton::clicked, &job, [this, &job] {
            job.stopAfterCurrent();
            m_dialog->showStopping();
        });
    }
    connect(&job, &ReceiveJob::progress, m_dialog, &ReceiveDialog::setRowsDone);
    m_dialog->show();
}

void ReceiveFlow::passedOver(const Gift &gift, PassReason reason) {
    if (!m_batch) {
        switch (reason) {
        case PassReason::NoCode:
            delete m_dialog.data(); // refused before anything was sent
            return info(QStringLiteral("请获取礼包后再进行接收"));
        case PassReason::Void:
            delete m_dialog.data();
            return info(kFailed.toString());
        case PassReason::NotRecorded:
            delete m_dialog.data();
            return info(QStringLiteral("接收记录无法写入,本次未接收"));
        case PassReason::Received:
        case PassReason::Unknown:
            return; // a receive by hand is never held back
        }
        return;
    }
    const QString mark = reason == PassReason::NoCode     ? QStringLiteral("[无礼包码]")
                         : reason == PassReason::Void     ? QStringLiteral("[已失效]")
                         : reason == PassReason::Received ? QStringLiteral("[已接收过]")
                         : reason == PassReason::Unknown  ? QStringLiteral("[结果未知]")
                                                          : QStringLiteral("[未记录,未接收]");
    Q_EMIT logLine(mark + u"[" + gift.title + u"]");
}

void ReceiveFlow::toldOne(ReceiveOutcome outcome) {
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        info(kNotSignedIn.toString());
        break;
    case ReceiveOutcome::Received:
        Q_EMIT statusText(kReceivedStatus.toString());
        info(kReceivedMessage.toString());
        break;
    case ReceiveOutcome::MembersOnly:
        Q_EMIT statusText(kMembersOnly.toString());
        info(kMembersOnly.toString());
        break;
    case ReceiveOutcome::UnderReview:
        info(kUnderReview.toString());
        break;
    case ReceiveOutcome::Failed:
        info(kFailed.toString());
        break;
    case ReceiveOutcome::NoAnswer:
        info(kNoAnswer.toString());
        break;
    }
}

void ReceiveFlow::toldRow(const Gift &gift, ReceiveOutcome outcome, const QString &reply) {
    const QString name = u"[" + gift.title + u"]";
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        Q_EMIT statusText(kNotSignedIn.toString());
        Q_EMIT logLine(QStringLiteral("请先登录115.."));
        return;
    case ReceiveOutcome::MembersOnly:
        Q_EMIT statusText(kMembersOnly.toString());
        Q_EMIT logLine(QStringLiteral("此功能仅限115VIP用户"));
        info(kMembersOnly.toString());
        return;
    case ReceiveOutcome::Received:
        Q_EMIT statusText(name + kReceivedStatus);
        Q_EMIT logLine(u"[成功]" + name);
        return;
    case ReceiveOutcome::UnderReview:
        Q_EMIT statusText(name + kUnderReview);
        Q_EMIT logLine(u"[需审核]" + name);
        return;
    case ReceiveOutcome::Failed:
    case ReceiveOutcome::NoAnswer:
        break;
    }
    // The reply itself, before the row's status and log line; a long one shows its beginning, and
    // more of it in the details, so the box fits on the screen. No reply at all says so, rather
    // than showing an empty box.
    const bool answered = outcome == ReceiveOutcome::Failed;
    const QString shown = answered ? reply : kNoAnswer.toString();
    const bool longReply = shown.size() > kBoxTextLimit;
    m_context.desktop.message(m_window, Desktop::Icon::None, QStringLiteral("Giftvane"),
                              longReply ? shown.left(kBoxTextLimit) : shown,
                              longReply ? shown.left(kBoxDetailsLimit) : QString());
    if (isCancelled())
        return;
    Q_EMIT statusText(name + (answered ? kFailed : kNoAnswer));
    Q_EMIT logLine(answered ? QString(u"[失败]" + name) : QString(name + kNoAnswer));
}
