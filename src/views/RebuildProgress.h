#pragma once

#include <cstdint>

// Tells the records tab how far the fetching of its current rebuild has come,
// and when it has ended.
//
// The fetcher's progress reports cover only the jobs it has taken on, and the
// tab starts a partition's job only once that partition's offsets are
// resolved; so a report that says "done" may come before the last job has
// started. A rebuild is done when every lookup it asked for has answered (or
// the metadata refresh it waited for), the fetcher has taken on every job it
// started, and the fetcher's report after that says done.
//
// Whether the fetcher has taken something on is learnt by a round trip: after
// posting the work (a new job, or the cancellation of the earlier rebuild's
// jobs), the tab posts an acknowledgement through the fetcher's thread, which
// comes back behind every report emitted before the work was taken on. While
// an acknowledgement is outstanding, reports are ignored: they describe the
// fetcher before the work (the earlier rebuild's jobs, or not yet the new
// one). Answers and acknowledgements carry the rebuild's generation; those of
// an earlier rebuild are dropped.
//
// A plain value of the GUI thread.
class RebuildProgress {
public:
    struct Report {
        std::int64_t fetched = 0;
        std::int64_t total = 0;
        bool caughtUp = true;
        bool done = true;
    };

    // Starts a rebuild; one acknowledgement (of the cancellations) is awaited.
    // Returns the new generation.
    std::uint64_t start();
    std::uint64_t generation() const { return m_generation; }

    // A lookup (offsets or metadata) was asked for.
    void expectAnswer() { ++m_pendingAnswers; }
    // Whether the answer belongs to the current rebuild (and is counted).
    bool answered(std::uint64_t generation);

    // A job was started: it has neither ended nor caught up, and its
    // acknowledgement is awaited.
    void jobStarted();
    // Whether the acknowledgement belongs to the current rebuild (and is
    // counted).
    bool acknowledged(std::uint64_t generation);

    // Takes a report of the fetcher; false when it is ignored.
    bool report(const Report& report);

    // Nothing awaited: the last report covers the whole rebuild.
    bool settled() const { return m_pendingAnswers == 0 && m_pendingAcknowledgements == 0; }
    bool done() const { return settled() && m_last.done; }
    bool caughtUp() const { return settled() && m_last.caughtUp; }
    // Per mille of the last report, 0 to 1000.
    int barValue() const { return barValue(m_last.fetched, m_last.total); }

    // fetched / total × 1000 truncated, within 0 to 1000; 0 when total is 0.
    static int barValue(std::int64_t fetched, std::int64_t total);

private:
    std::uint64_t m_generation = 0;
    int m_pendingAnswers = 0;
    int m_pendingAcknowledgements = 0;
    Report m_last;
};
