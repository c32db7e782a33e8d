#pragma once

// What the interface benchmarks measure besides time: how long the event loop
// was held up, and the heap in use.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <malloc.h>
#include <vector>

// Bytes of heap in use (glibc's figures; meaningless under the sanitizers).
inline qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// A 1 ms precise timer ticks while the event loop runs: a gap between two
// ticks is time the loop was held up.
class EventLoopStalls {
public:
    EventLoopStalls()
    {
        m_gapsMs.reserve(1'000'000);
        m_heartbeat.setTimerType(Qt::PreciseTimer);
        m_heartbeat.setInterval(1);
        QObject::connect(&m_heartbeat, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_gapsMs.push_back(double(now - m_lastTick) / 1e6);
            m_lastTick = now;
        });
    }

    void start()
    {
        m_clock.start();
        m_lastTick = 0;
        m_heartbeat.start();
    }
    void stop() { m_heartbeat.stop(); }

    // The gap at `percent` (100: the worst), 0 when nothing was measured.
    double percentileMs(int percent) const
    {
        if (m_gapsMs.empty())
            return 0;
        std::vector<double> sorted = m_gapsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, sorted.size() * std::size_t(percent) / 100)];
    }

private:
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
    QTimer m_heartbeat;
    std::vector<double> m_gapsMs;
};
