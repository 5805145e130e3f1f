#include "receive/receiveflow.h"

#include "desktop/desktop.h"
#include "web/clouddisk.h"
#include "web/webclient.h"

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

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
        m_progress->setTextVisible(rows > 0);
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

QCoro::Task<> ReceiveFlow::work() {
    if (m_batch)
        co_await batch(m_rows);
    else
        co_await single(m_rows.first());
    delete m_dialog.data();
    finish(&ReceiveFlow::finished);
}

void ReceiveFlow::info(const QString &text) {
    m_context.desktop.information(m_window, QStringLiteral("Corvane系列软件"), text);
}

void ReceiveFlow::openDialog(const QString &text, int rows, bool stoppable) {
    m_dialog = new ReceiveDialog(m_window, text, rows, stoppable);
    if (QPushButton *stop = m_dialog->stopButton()) {
        connect(stop, &QPushButton::clicked, this, [this] {
            m_stopRequested = true;
            m_dialog->showStopping();
        });
    }
    m_dialog->show();
}

QCoro::Task<std::optional<Fetched>> ReceiveFlow::post(const QString &code, bool unlessReceived) {
    GiftPosts &posts = m_context.posts ? *m_context.posts : m_ownPosts;
    std::function<bool()> passOver;
    if (unlessReceived && m_context.received)
        passOver = [received = m_context.received, code] { return received(code); };
    co_return co_await posts.post(m_context.web, m_context.cloudDisk, code, scope(), std::move(passOver));
}

QCoro::Task<> ReceiveFlow::single(const GiftEntry &gift) {
    using namespace receivetexts;
    if (gift.code.isEmpty()) {
        info(QStringLiteral("请获取礼包后再进行接收"));
        co_return;
    }
    if (gift.mark.contains(clouddisk::kVoidMark)) {
        info(kFailed.toString());
        co_return;
    }

    openDialog(QStringLiteral("正在接收礼包.."), 0, false);
    const std::optional<Fetched> answer = co_await post(gift.code, false); // never passed over
    const Fetched reply = answer.value_or(Fetched{});
    if (isCancelled())
        co_return;
    delete m_dialog.data();

    const ReceiveOutcome outcome = readReceiveReply(reply.text, reply.ok(), clouddisk::kReceivedMarker);
    Q_EMIT attempted(gift, outcome, markerOf(outcome, clouddisk::kReceivedMarker));
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

QCoro::Task<> ReceiveFlow::batch(QList<GiftEntry> rows) {
    using namespace receivetexts;
    if (rows.isEmpty()) {
        info(QStringLiteral("请先获取礼包"));
        co_return;
    }
    rows.removeIf([](const GiftEntry &row) { return !row.checked; });
    if (rows.isEmpty())
        co_return;

    openDialog(QStringLiteral("正在批量接收礼包.."), int(rows.size()), true);
    QSet<QString> receivedNow; // a code ticked twice is posted once
    for (qsizetype i = 0; i < rows.size() && !m_stopRequested; ++i) {
        const GiftEntry &row = rows[i];
        // Posting a code received before only fails again; posting no code asks for nothing.
        const QString passedOver = row.code.isEmpty() ? u"[无礼包码]"_qs
                                   : row.receivedAt.isValid() || receivedNow.contains(row.code)
                                       ? u"[已接收过]"_qs
                                       : QString();
        if (!passedOver.isEmpty()) {
            Q_EMIT logLine(passedOver + u"[" + row.title + u"]");
            m_dialog->setRowsDone(int(i + 1));
            continue;
        }
        const std::optional<Fetched> answer = co_await post(row.code, true);
        if (isCancelled())
            co_return;
        m_dialog->setRowsDone(int(i + 1));
        if (!answer) {
            Q_EMIT logLine(u"[已接收过][" + row.title + u"]");
            continue;
        }
        const Fetched &posted = *answer;
        const QString &reply = posted.text;

        const ReceiveOutcome outcome = readReceiveReply(reply, posted.ok(), clouddisk::kBatchReceivedMarker);
        // Only the single receive's marker proves a receive: a looser "成功" may be a failure's
        // text, and its code is offered again.
        const bool proven = outcome == ReceiveOutcome::Received && reply.contains(clouddisk::kReceivedMarker);
        Q_EMIT attempted(row, outcome,
                         proven ? clouddisk::kReceivedMarker.toString()
                                : markerOf(outcome, clouddisk::kBatchReceivedMarker));
        const QString name = u"[" + row.title + u"]";
        if (outcome == ReceiveOutcome::NotSignedIn) {
            Q_EMIT statusText(kNotSignedIn.toString());
            Q_EMIT logLine(QStringLiteral("请先登录115.."));
            break;
        }
        if (outcome == ReceiveOutcome::MembersOnly) {
            Q_EMIT statusText(kMembersOnly.toString());
            Q_EMIT logLine(QStringLiteral("此功能仅限115VIP用户"));
            info(kMembersOnly.toString());
            break;
        }
        if (outcome == ReceiveOutcome::Received) {
            if (proven)
                receivedNow.insert(row.code);
            Q_EMIT statusText(name + kReceivedStatus);
            Q_EMIT logLine(u"[成功]" + name);
        } else if (outcome == ReceiveOutcome::UnderReview) {
            Q_EMIT statusText(name + kUnderReview);
            Q_EMIT logLine(u"[需审核]" + name);
        } else {
            // The reply itself, before the row's status and log line; a long one shows its
            // beginning, and more of it in the details, so the box fits on the screen. No reply
            // at all says so, rather than showing an empty box.
            const bool answered = outcome == ReceiveOutcome::Failed;
            const QString shown = answered ? reply : kNoAnswer.toString();
            const bool longReply = shown.size() > kBoxTextLimit;
            m_context.desktop.message(m_window, Desktop::Icon::None, QStringLiteral("Giftvane"),
                                      longReply ? shown.left(kBoxTextLimit) : shown,
                                      longReply ? shown.left(kBoxDetailsLimit) : QString());
            if (isCancelled())
                co_return;
            Q_EMIT statusText(name + (answered ? kFailed : kNoAnswer));
            Q_EMIT logLine(answered ? QString(u"[失败]" + name) : QString(name + kNoAnswer));
        }
    }
}
