#pragma once

#include <QString>
#include <QWidget>
#include <QtPlugin>

class KeptSignIn;
class WebClient;

// The cloud-disk sign-in window. Its browser engine lives in a plugin that is loaded on
// first use, so that the main window starts small and fast.
class SignInWindow : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    // Shows the start page, modal (blocking the main window's input) or not.
    virtual void open(bool modal) = 0;

    // The "保持登录" box: unticked unless set, as the user last left it.
    virtual void setKeepSignIn(bool keep) = 0;
    virtual bool keepSignIn() const = 0;
    // Empty when there is a secret store to keep the sign-in in; otherwise why there is none,
    // and the box is disabled with that as its tooltip.
    virtual void setKeepUnavailable(const QString &why) = 0;

Q_SIGNALS:
    // A loaded page, fetched anew with the shared cookies, shows the user signed in; keep is
    // whether "保持登录" was ticked (and could be) at that moment.
    void signedIn(bool keep);
    // The user ticked or cleared "保持登录".
    void keepSignInChanged(bool keep);
};

class SignInFactory {
public:
    virtual ~SignInFactory() = default;
    virtual SignInWindow *create(WebClient &web, const QString &cloudDiskHost) = 0;
};

#define GiftvaneSignInFactory_iid "org.giftvane.SignInFactory/2.0"
Q_DECLARE_INTERFACE(SignInFactory, GiftvaneSignInFactory_iid)

// A sign-in window, or why there is none.
struct SignInLoad {
    SignInWindow *window = nullptr;
    QString why; // the loader's words, naming the plugin's file
};

// Loads the browser plugin (pluginPath; empty for lib/giftvane/plugins beside the program's
// folder) and makes the window.
SignInLoad createSignInWindow(WebClient &web, const QString &cloudDiskHost, const QString &pluginPath = {});

// Wires a sign-in window to the kept sign-in: its box follows the store, and clearing the box
// discards what was kept. (What a sign-in keeps is the session's to decide.)
void attachKeptSignIn(KeptSignIn &kept, SignInWindow *window);
