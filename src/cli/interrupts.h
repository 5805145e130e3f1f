#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM as a Qt signal on the event loop's thread. The handler only writes the
// signal's number into a socket pair (all a signal handler may safely do); the event loop
// reads it and emits raised(). SIGPIPE is ignored meanwhile, so a reader that goes away shows
// as a failed write instead of ending the process on the spot. After the first signal the
// default handlers are back, so a second one ends the process at once. One at a time per
// process.
class Interrupts final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Interrupts)

public:
    explicit Interrupts(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~Interrupts() override;

    // After the work has been cleaned up: when a signal was raised, the process ends by it.
    void endBySignal() const;

Q_SIGNALS:
    void raised(int signal);

private:
    void read();

    QSocketNotifier *m_notifier = nullptr;
    int m_raised = 0;
};
