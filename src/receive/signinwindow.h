#pragma once

#include <QWidget>
#include <QtPlugin>

class WebClient;

// The cloud-disk sign-in window. Its browser engine lives in a plugin that is loaded on
// first use, so that the main window starts small and fast.
class SignInWindow : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    // Shows the start page, modal (blocking the main window's input) or not.
    virtual void open(bool modal) = 0;

Q_SIGNALS:
    // A loaded page, fetched anew with the shared cookies, shows the user signed in.
    void signedIn();
};

class SignInFactory {
public:
    virtual ~SignInFactory() = default;
    virtual SignInWindow *create(WebClient &web, const QString &cloudDiskHost) = 0;
};

#define GiftvaneSignInFactory_iid "org.giftvane.SignInFactory/1.0"
Q_DECLARE_INTERFACE(SignInFactory, GiftvaneSignInFactory_iid)

// Loads the browser plugin from lib/giftvane beside the program's folder; nullptr when it
// cannot be loaded.
SignInWindow *createSignInWindow(WebClient &web, const QString &cloudDiskHost);
