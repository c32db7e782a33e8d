#pragma once

#include <QDeadlineTimer>

#include <algorithm>
#include <functional>

class KafkaClusterClient;
class QObject;

// The retries of one fetch job or offset lookup while its partition's leader
// cannot be reached or has moved. Each attempt waits a backoff that doubles
// from FirstBackoffMs up to MaxBackoffMs, reads the metadata again and goes to
// the leader it names. The first failure in a row starts a window of
// TimeLimitMs; a failure after the window has passed is final.
//
// The backoffs are those of the Kafka clients (retry.backoff.ms 100 up to
// retry.backoff.max.ms 1000). The window covers a leader election after a
// broker crash, which waits for the dead broker's session to expire (9 s by
// default, 18 s for a ZooKeeper session), with room to spare; beyond it the
// partition is taken to have no broker that can serve it. About 30 attempts
// fit into the window, each one Metadata request and one connection attempt.
class LeaderRetry {
public:
    static constexpr int FirstBackoffMs = 100;
    static constexpr int MaxBackoffMs = 1000;
    static constexpr int TimeLimitMs = 30000;

    // Counts the next attempt and returns its backoff, or -1 once the window
    // has passed.
    int nextBackoff()
    {
        if (m_attempts == 0)
            m_deadline.setRemainingTime(TimeLimitMs);
        else if (m_deadline.hasExpired())
            return -1;
        const int backoff = std::min(MaxBackoffMs, FirstBackoffMs << std::min(m_attempts, 4));
        ++m_attempts;
        ++m_generation;
        return backoff;
    }

    // Attempts since the last success; 0 while nothing has failed.
    int attempts() const { return m_attempts; }
    // Tells the attempt last counted from earlier ones; never reset, so that
    // a timer of an attempt that was overtaken finds it changed.
    unsigned generation() const { return m_generation; }
    void reset() { m_attempts = 0; }

    // The step between two attempts: after `backoffMs` on the thread of
    // `context`, unless `stillWaiting` says that the attempt was overtaken,
    // reads the metadata again and then calls `resume`, whether or not the
    // metadata could be read (the next attempt meets the failure again).
    // Nothing runs once `context` is gone.
    static void afterBackoffAndRefresh(KafkaClusterClient& clusterClient, QObject* context, int backoffMs,
        std::function<bool()> stillWaiting, std::function<void()> resume);

private:
    int m_attempts = 0;
    unsigned m_generation = 0;
    QDeadlineTimer m_deadline;
};
