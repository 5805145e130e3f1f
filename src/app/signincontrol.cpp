#include "app/signincontrol.h"

#include "app/signinwindow.h"
#include "desktop/desktop.h"
#include "session/giftsession.h"
#include "session/sessionsettings.h"

SignInControl::SignInControl(GiftSession &session, QString plugin, QWidget *window)
    : QObject(window)
    , m_session(session)
    , m_plugin(std::move(plugin))
    , m_parent(window) {}

SignInControl::~SignInControl() {
    delete m_signIn;
}

void SignInControl::open(bool modal) {
    if (!m_signIn) {
        const SignInLoad load = createSignInWindow(m_session.web(), m_session.sites().cloudDisk, m_plugin);
        if (!load.window) {
            // Nothing else needs the browser: the program goes on without it.
            m_session.desktop().message(m_parent, Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                                        u"无法打开登录窗口：" + load.why);
            return;
        }
        m_signIn = load.window;
        connect(m_signIn, &SignInWindow::signedIn, this, [this](bool keep) {
            Q_EMIT statusText(QStringLiteral("您已成功登录115网盘，现在可以直接进行礼包接收了。"));
            m_session.signedIn(keep); // what keeping it says comes after
        });
        if (SessionSettings *settings = m_session.settings()) {
            m_signIn->setKeepSignIn(settings->keepSignIn());
            connect(m_signIn, &SignInWindow::keepSignInChanged, this,
                    [settings](bool keep) { settings->setKeepSignIn(keep); });
        }
        attachKeptSignIn(m_session.kept(), m_signIn);
    }
    m_signIn->open(modal);
}

void SignInControl::restoreKept() {
    if (m_session.settings() && m_session.settings()->keepSignIn())
        restore();
}

QCoro::Task<> SignInControl::restore() {
    QPointer<SignInControl> self(this);
    co_await m_session.restoreKeptSignIn();
    if (!self || m_session.signInState() != SignInState::Kept)
        co_return;
    m_keptRestored = true;
    announce();
}

void SignInControl::startupFinished() {
    m_startupDone = true;
    announce();
}

void SignInControl::announce() {
    // Said once both have happened: written during the update check, its texts would cover it.
    if (!m_keptRestored || !m_startupDone)
        return;
    m_keptRestored = false;
    Q_EMIT statusText(QStringLiteral("已保持登录115网盘"));
}

void SignInControl::signOut() {
    m_session.signOut(QStringLiteral("已退出登录"));
}
