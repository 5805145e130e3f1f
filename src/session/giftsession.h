#pragma once

#include "receive/keptsignin.h"
#include "receive/receive.h"
#include "session/updatecheck.h"
#include "watch/newgiftwatch.h"
#include "web/sites.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <qcoro/qcorotask.h>

class Desktop;
class Ledger;
class SessionSettings;
class WebClient;

// Where the user stands with the cloud disk, as the program knows it.
enum class SignInState {
    SignedOut, // never signed in in this run, or signed out
    SignedIn,  // signed in in the browser, for this run only
    Kept,      // signed in and kept in the desktop's secret store
    Expired,   // a receive was answered with the sign-in page
};

// How the program was started: with its window, or at login without one ("--background").
enum class StartMode { Window, Background };

// How much a message matters to the user: a passing note (the status bar), a line for the record
// (the log), or something the user should act on (both).
enum class Severity { Progress, Info, Warning };

// The program without its window: the web client and the ledger it is given, the kept sign-in,
// the one queue of gift posts with the ledger's claims, the new-gift watch and the update check,
// and what follows from each: who is signed in, and what the user is told. The window and
// giftvane-harvest each build one, listen to its events and ask it for work; each rule is
// decided here once. Its signals are events of the domain; the window words them.
class GiftSession final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GiftSession)

public:
    static inline const QString kSignInExpired = QStringLiteral("登录已过期,请重新登录");

    static constexpr int kFirstUpdateRetryMinutes = 5;
    static constexpr int kLongestUpdateRetryMinutes = 6 * 60;
    static constexpr int kLongestSignInWaitMs = 60 * 1000;

    // The client, the desktop, the ledger (none: the program keeps no ledger) and the settings
    // (none: nothing is remembered) must outlive the session; the ledger is opened by open().
    GiftSession(WebClient &web, Desktop &desktop, SiteAddresses sites, Ledger *ledger,
                SessionSettings *settings = nullptr, QObject *parent = nullptr);
    // Stops the watch and the update check before anything else goes.
    ~GiftSession() override;

    WebClient &web() const { return m_web; }
    Desktop &desktop() const { return m_desktop; }
    const SiteAddresses &sites() const { return m_sites; }
    Ledger *ledger() const { return m_ledger; }
    SessionSettings *settings() const { return m_settings; }
    KeptSignIn &kept() { return m_kept; }
    GiftPosts &posts() { return m_posts; }
    NewGiftWatch &watch() { return m_watch; }
    SignInState signInState() const { return m_signIn; }

    // Opens the ledger; one that cannot be used is said once (ledgerOff), and the program goes on
    // without it. Claims its last programs left unsettled are said too.
    void open();
    // Puts a kept sign-in back (asked only for a user who chose "保持登录").
    QCoro::Task<> restoreKeptSignIn();
    // The sign-in browser found the user signed in; `keep`: "保持登录" was ticked.
    void signedIn(bool keep);
    // "退出登录": no post asked for before now goes out, and the cloud disk's cookies go from the
    // jar, the browser and the secret store; `done` is what the user is told once it has gone.
    QCoro::Task<> signOut(QString done);
    // Start-up: asks the update server which version is current. In a window start every answer
    // goes to updateChecked(), and the window decides. In a background start nobody is there to
    // read a box: a check without an answer is asked again after 5, 10, 20 … minutes (at most 6
    // hours apart), and another version is told in a notification (its button opens the update
    // page) before endRequested(). Once the check has let the program go on (Current), the watch
    // runs again when it ran as the program last ended.
    void start(StartMode mode);
    bool hasStarted() const { return m_started; }
    // Someone wants the window of a background start that has not started yet: the update check
    // is asked again now, and answered as in a window start.
    void toWindow();
    // The user starts or stops the watch: what they chose, and that it runs, is remembered.
    void startWatch(const WatchChoices &choices);
    void stopWatch();
    // Minutes before the n-th (from 1) repeat of a start-up check that got no answer.
    static int updateRetryMinutes(int attempt);
    // For tests: how long a minute is.
    void setMinuteMs(int ms) { m_minuteMs = ms; }

Q_SIGNALS:
    void signInChanged(SignInState state);
    void ledgerOff(const QString &why);
    // A code was received: proven by the reply, or by a batch's looser "成功".
    void codeReceived(const QString &code);
    void message(Severity severity, const QString &text);
    void updateChecked(const UpdateVerdict &verdict);
    // The start-up check lets the program go on no longer: another version is out.
    void endRequested();
    // The watch runs again as it ran when the program last ended.
    void watchResumed();

private:
    void setSignIn(SignInState state);
    void checkForUpdate();
    void resumeWatch();
    void updateAnswered(const UpdateVerdict &verdict);
    // A receive met the sign-in page: a kept sign-in no longer signs in, and is forgotten.
    QCoro::Task<> expired();
    // Forgets the kept sign-in; why the store kept it all the same, empty when it let go (or had none).
    QCoro::Task<QString> forgetKept();

    WebClient &m_web;
    Desktop &m_desktop;
    const SiteAddresses m_sites;
    Ledger *m_ledger;
    SessionSettings *m_settings;
    KeptSignIn m_kept;
    GiftPosts m_posts;
    NewGiftWatch m_watch;
    QPointer<UpdateCheck> m_updateCheck;
    SignInState m_signIn = SignInState::SignedOut;
    StartMode m_mode = StartMode::Window;
    bool m_started = false;
    bool m_watchKept = false;
    bool m_resumeDue = false; // the watch is to run again once the kept sign-in is back
    int m_restoring = 0; // kept sign-ins being read back from the store // the watch runs on the settings'
                         // choices, and keeps what it learns there
    int m_updateAttempts = 0;
    int m_minuteMs = 60 * 1000;
    QTimer m_updateRetry;
};
