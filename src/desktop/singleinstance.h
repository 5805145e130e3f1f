#pragma once

#include <QDBusConnection>
#include <QObject>

// One window program per user session, as GApplication does it: the first start owns a name on
// the session bus, and a later start asks it, by that name, to show its window, then ends.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.giftvane.Giftvane")
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    static inline const QString kName = QStringLiteral("io.github.giftvane.Giftvane");
    static inline const QString kPath = QStringLiteral("/io/github/giftvane/Giftvane");
    static constexpr int kAnswerMs = 5000;

    enum class Claim {
        Owner,   // this is the only one: it owns the name
        Handed,  // another owns it, and was asked to show its window (when `activate`)
        Unowned, // no bus, or the owner did not answer: this one runs, without the name
    };

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Before the window: takes the name, or hands over to the program that has it.
    Claim claim(bool activate);

public Q_SLOTS:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate();

Q_SIGNALS:
    void activationRequested();

private:
    QDBusConnection m_bus;
    bool m_owner = false;
};
