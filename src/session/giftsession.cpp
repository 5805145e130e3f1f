#include "session/giftsession.h"

#include "ledger/ledger.h"
#include "session/sessionsettings.h"
#include "web/webclient.h"

GiftSession::GiftSession(WebClient &web, Desktop &desktop, SiteAddresses sites, Ledger *ledger,
                         SessionSettings *settings, QObject *parent)
    : QObject(parent)
    , m_web(web)
    , m_desktop(desktop)
    , m_sites(std::move(sites))
    , m_ledger(ledger)
    , m_settings(settings)
    , m_kept(desktop, *web.cookieJar(), m_sites.cloudDisk)
    , m_posts(ledger)
    // Auto-receive only with a sign-in kept now: a sign-out counts at once, whatever the secret
    // store answers later.
    , m_watch({web, m_sites, desktop, ledger, [this] { return m_signIn == SignInState::Kept; }, m_posts}) {
    connect(&m_posts, &GiftPosts::posted, this, [this](const QString &code, ReceiveOutcome outcome) {
        if (outcome == ReceiveOutcome::Received)
            Q_EMIT codeReceived(code);
    });
    connect(&m_posts, &GiftPosts::signInRefused, this, &GiftSession::expired);
    connect(&m_kept, &KeptSignIn::notice, this,
            [this](const QString &text) { Q_EMIT message(Severity::Warning, text); });
    if (m_ledger)
        connect(m_ledger, &Ledger::turnedOff, this, &GiftSession::ledgerOff);
    // What the watch learns of its pages outlives the program: validators, back-off, last check.
    connect(&m_watch, &NewGiftWatch::checked, this, [this] {
        if (!m_settings || !m_watchKept)
            return;
        WatchChoices learnt = m_watch.choices();
        learnt.minutes = m_settings->watch().minutes;
        // Changed in the settings since it started: what was learnt is of other pages.
        if (learnt.subscriptions == m_settings->watch().subscriptions)
            m_settings->setWatch(learnt);
    });
    m_updateRetry.setSingleShot(true);
    connect(&m_updateRetry, &QTimer::timeout, this, &GiftSession::checkForUpdate);
}

GiftSession::~GiftSession() {
    m_watch.stop();
    if (UpdateCheck *check = m_updateCheck)
        check->cancel(); // it deletes itself
    if (m_ledger)
        m_ledger->disconnect(this);
}

void GiftSession::open() {
    if (!m_ledger)
        return;
    m_ledger->open();
    if (const int unknown = m_ledger->claimsLeftUnknown(); unknown > 0)
        Q_EMIT message(Severity::Info,
                       QString::number(unknown) + u"个礼包上次发出后未得到结果,已记为结果未知");
}

void GiftSession::setSignIn(SignInState state) {
    if (m_signIn == state)
        return;
    m_signIn = state;
    Q_EMIT signInChanged(state);
}

QCoro::Task<> GiftSession::restoreKeptSignIn() {
    QPointer<GiftSession> self(this);
    const quint64 signOuts = m_posts.signOuts();
    ++m_restoring;
    const KeptSignIn::Result restored = co_await m_kept.restore();
    if (self && --m_restoring == 0)
        resumeWatch(); // if start-up waited for it
    // Signed out or in meanwhile: what the store kept no longer decides.
    if (!self || m_posts.signOuts() != signOuts || m_signIn != SignInState::SignedOut)
        co_return;
    if (restored.ok() && restored.cookies > 0)
        setSignIn(SignInState::Kept);
}

void GiftSession::signedIn(bool keep) {
    setSignIn(SignInState::SignedIn);
    [](GiftSession *session, bool keep) -> QCoro::Task<> {
        QPointer<GiftSession> self(session);
        const quint64 signOuts = session->m_posts.signOuts();
        KeptSignIn::Result result;
        if (keep)
            result = co_await session->m_kept.save();
        else
            result = co_await session->m_kept.discard();
        if (self && keep && result.ok() && session->m_posts.signOuts() == signOuts &&
            session->m_signIn == SignInState::SignedIn)
            session->setSignIn(SignInState::Kept);
    }(this, keep);
}

QCoro::Task<QString> GiftSession::forgetKept() {
    QPointer<GiftSession> self(this);
    const KeptSignIn::Result forgotten = co_await m_kept.forget();
    if (!self || forgotten.ok() || forgotten.status == SecretAnswer::Status::NoStore)
        co_return QString();
    const QString left = u"系统密钥环中保持的登录未能删除：" + forgotten.reason;
    Q_EMIT message(Severity::Info, left);
    co_return left;
}

QCoro::Task<> GiftSession::signOut(QString done) {
    m_posts.signOut(); // no post asked for before now goes out
    setSignIn(SignInState::SignedOut);
    QPointer<GiftSession> self(this);
    const QString left = co_await forgetKept();
    if (!self || done.isEmpty())
        co_return;
    if (!left.isEmpty())
        done += u"," + left;
    Q_EMIT message(Severity::Progress, done);
}

QCoro::Task<> GiftSession::expired() {
    const bool kept = m_signIn == SignInState::Kept;
    setSignIn(SignInState::Expired);
    if (!kept)
        co_return;
    // Kept, the cookies would fail at every start.
    Q_EMIT message(Severity::Warning, kSignInExpired);
    co_await forgetKept();
}

void GiftSession::start(StartMode mode) {
    m_mode = mode;
    checkForUpdate();
}

int GiftSession::updateRetryMinutes(int attempt) {
    int minutes = kFirstUpdateRetryMinutes;
    for (int i = 1; i < attempt && minutes < kLongestUpdateRetryMinutes; ++i)
        minutes *= 2;
    return qMin(minutes, kLongestUpdateRetryMinutes);
}

void GiftSession::checkForUpdate() {
    if (m_updateCheck)
        return;
    auto *check = new UpdateCheck(m_web, m_sites.update);
    connect(check, &UpdateCheck::finished, this, &GiftSession::updateAnswered);
    m_updateCheck = check;
    check->start();
}

void GiftSession::updateAnswered(const UpdateVerdict &verdict) {
    if (m_mode == StartMode::Background && verdict.kind == UpdateVerdict::NoAnswer) {
        m_updateRetry.start(updateRetryMinutes(++m_updateAttempts) * m_minuteMs);
        return;
    }
    if (m_mode == StartMode::Background && verdict.kind == UpdateVerdict::Different) {
        const QUrl page(updatePageAddress(m_sites.forum));
        m_desktop.notify(
            u"发现最新版本![" + verdict.latest + u"]", QString(), [this, page] { m_desktop.openUrl(page); },
            QStringLiteral("打开更新地址"));
        Q_EMIT endRequested();
        return;
    }
    // The watch first: whoever hears that the program goes on finds it running.
    if (verdict.kind == UpdateVerdict::Current) {
        m_started = true;
        m_resumeDue = m_settings && m_settings->watchRunning();
        // A kept sign-in still coming back from the store is waited for, so that the first check
        // (what came out while the program was off) can be received; a store that asks to be
        // unlocked is not waited for past a minute.
        if (m_restoring > 0)
            QTimer::singleShot(kLongestSignInWaitMs, this, &GiftSession::resumeWatch);
        else
            resumeWatch();
    }
    Q_EMIT updateChecked(verdict);
}

void GiftSession::resumeWatch() {
    if (!std::exchange(m_resumeDue, false))
        return;
    m_watchKept = true;
    m_watch.start(m_settings->watch());
    Q_EMIT watchResumed();
}

void GiftSession::toWindow() {
    if (m_started || m_mode == StartMode::Window)
        return;
    m_mode = StartMode::Window;
    m_updateRetry.stop();
    checkForUpdate(); // a check in flight answers in the window's way
}

void GiftSession::startWatch(const WatchChoices &choices) {
    if (m_settings) {
        m_settings->setWatch(choices);
        m_settings->setWatchRunning(true);
    }
    m_resumeDue = false;
    m_watchKept = true;
    m_watch.start(choices);
}

void GiftSession::stopWatch() {
    if (m_settings)
        m_settings->setWatchRunning(false);
    m_resumeDue = false;
    m_watchKept = false;
    m_watch.stop();
}
