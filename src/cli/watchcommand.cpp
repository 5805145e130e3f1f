#include "cli/watchcommand.h"

#include "cli/rows.h"
#include "session/giftsession.h"
#include "session/sessionsettings.h"

#include <QPointer>

#include <cstdio>

namespace {

void printError(const QString &text) {
    const QByteArray bytes = QString(u"giftvane-harvest: " + text + u"\n").toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

} // namespace

WatchCommand::WatchCommand(WatchOrder order, bool json, bool header, GiftSession &session, QObject *parent)
    : QObject(parent)
    , m_order(std::move(order))
    , m_json(json)
    , m_header(header)
    , m_session(session) {
    connect(&m_session.watch(), &NewGiftWatch::checked, this, &WatchCommand::checked);
    connect(&m_session, &GiftSession::message, this, [](Severity severity, const QString &text) {
        if (severity != Severity::Progress)
            printError(text);
    });
}

void WatchCommand::start() {
    run();
}

QCoro::Task<> WatchCommand::run() {
    WatchChoices choices = m_session.settings() ? m_session.settings()->watch() : WatchChoices();
    if (!m_order.subscriptions.isEmpty())
        choices.subscriptions = m_order.subscriptions;
    choices.minutes = m_order.minutes.value_or(choices.minutes);
    const auto receiving = [&choices](bool receive) {
        for (Subscription &subscription : choices.subscriptions)
            subscription.autoReceive = receive;
    };
    receiving(m_order.receive);
    if (!choices.watchesAny()) {
        printError(QStringLiteral("nothing to watch: every subscription is off"));
        end(Unreadable);
        co_return;
    }
    if (m_order.receive) {
        QPointer<WatchCommand> self(this);
        co_await m_session.restoreKeptSignIn();
        if (!self || m_ending)
            co_return;
        if (m_session.signInState() != SignInState::Kept) {
            printError(
                QStringLiteral("no sign-in is kept in the secret store: new gifts are written, not received "
                               "(sign in in the Giftvane window with 保持登录 ticked)"));
            receiving(false);
        }
    }
    if (m_header && !m_json)
        std::fwrite(harvestcommand::tsvHeader().constData(), 1, size_t(harvestcommand::tsvHeader().size()),
                    stdout);
    for (const Subscription &subscription : std::as_const(choices.subscriptions))
        m_watched.insert(subscription.shownName(), subscription);
    m_session.watch().start(choices, m_order.once); // checks at once
}

void WatchCommand::checked(const CheckReport &report) {
    bool written = true;
    for (const NewGift &gift : report.gifts) {
        // As the harvest of the subscription's page writes its rows.
        const auto found = m_watched.constFind(gift.subscription);
        const RunRequest request =
            found != m_watched.cend() ? found->request() : RunRequest{&harvestKind(gift.tab, false), 1};
        const QByteArray line =
            m_json ? harvestcommand::jsonLine(gift.row, request) : harvestcommand::tsvLine(gift.row, request);
        written =
            written && std::fwrite(line.constData(), 1, size_t(line.size()), stdout) == size_t(line.size());
    }
    written = std::fflush(stdout) == 0 && written;
    for (const QString &page : report.unreadable)
        printError(page);
    if (report.received && !report.received->left.isEmpty())
        printError(QString::number(report.received->left.size()) +
                   u" new gifts wait for the next check to be received");
    if (!written)
        end(OutputGone);
    else if (m_order.once)
        end(report.unreadable.isEmpty() ? Read : Unreadable);
}

void WatchCommand::interrupt() {
    if (m_ending)
        return;
    m_ending = true;
    // A post that may have gone is waited for: its outcome is the ledger's to keep.
    if (m_session.posts().isPosting()) {
        connect(&m_session.posts(), &GiftPosts::postEnded, this, [this] { end(Interrupted); });
        return;
    }
    end(Interrupted);
}

void WatchCommand::end(int status) {
    if (std::exchange(m_ended, true))
        return;
    m_ending = true;
    m_session.watch().disconnect(this);
    m_session.posts().disconnect(this);
    m_session.watch().stop();
    Q_EMIT finished(status);
}
