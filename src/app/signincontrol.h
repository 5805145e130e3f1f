#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class GiftSession;
class QWidget;
class SignInWindow;

// The cloud disk's sign-in as the window shows it: the sign-in browser (made on first use, its
// "保持登录" box remembered and tied to the kept sign-in), a kept sign-in put back at start and
// said once start-up is over, and "退出登录".
class SignInControl final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignInControl)

public:
    // `plugin`: the sign-in browser's plugin file; empty for the program's own.
    SignInControl(GiftSession &session, QString plugin, QWidget *window);
    ~SignInControl() override;

    SignInWindow *window() const { return m_signIn; }
    void open(bool modal);
    // Only for a user who chose "保持登录": the store is not asked otherwise (it may ask to be
    // unlocked).
    void restoreKept();
    // Start-up is over: a kept sign-in put back meanwhile is said now, not under its texts.
    void startupFinished();
    void signOut();

Q_SIGNALS:
    void statusText(const QString &text);

private:
    QCoro::Task<> restore();
    void announce();

    GiftSession &m_session;
    const QString m_plugin;
    QWidget *m_parent;
    QPointer<SignInWindow> m_signIn;
    bool m_startupDone = false;
    bool m_keptRestored = false; // put back at start, not yet said
};
