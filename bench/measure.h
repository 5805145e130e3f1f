#pragma once

// What the benchmarks measure besides wall time: how long the event loop went without a turn,
// and the process's peak resident memory.

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <ctime>

// The longest gap between ticks of a 10 ms timer while it lives, counting the time since the
// last tick, which a stall at the very end would leave out.
class LoopWatch {
public:
    static constexpr int kTickMs = 10;

    LoopWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = qMax(m_longest, m_since.restart()); });
        m_since.start();
        m_timer.start(kTickMs);
    }
    qint64 longestGap() const { return qMax(m_longest, m_since.elapsed()); }
    // How much later than its period the timer came at worst.
    qint64 worstLateness() const { return qMax<qint64>(0, longestGap() - kTickMs); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// A figure of /proc/self/status in MiB ("VmHWM:", "VmRSS:"); -1 when it cannot be read.
inline qint64 statusMiB(const QByteArray &field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

// The peak resident memory of this process so far, in MiB; -1 when it cannot be read.
inline qint64 peakResidentMiB() {
    return statusMiB("VmHWM:");
}

// The resident memory of this process now, in MiB; -1 when it cannot be read.
inline qint64 residentMiB() {
    return statusMiB("VmRSS:");
}

// The CPU time this process has used so far, in milliseconds.
inline double cpuMs() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return used.tv_sec * 1000.0 + used.tv_nsec / 1e6;
}
