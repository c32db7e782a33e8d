#include "RebuildProgress.h"

#include <algorithm>

std::uint64_t RebuildProgress::start()
{
    ++m_generation;
    m_pendingAnswers = 0;
    m_pendingAcknowledgements = 1;
    // The fetcher holds no job once the cancellations are through.
    m_last = Report();
    return m_generation;
}

bool RebuildProgress::answered(std::uint64_t generation)
{
    if (generation != m_generation)
        return false;
    --m_pendingAnswers;
    return true;
}

void RebuildProgress::jobStarted()
{
    ++m_pendingAcknowledgements;
    m_last.caughtUp = false;
    m_last.done = false;
}

bool RebuildProgress::acknowledged(std::uint64_t generation)
{
    if (generation != m_generation)
        return false;
    --m_pendingAcknowledgements;
    return true;
}

bool RebuildProgress::report(const Report& report)
{
    if (m_pendingAcknowledgements > 0)
        return false;
    m_last = report;
    return true;
}

int RebuildProgress::barValue(std::int64_t fetched, std::int64_t total)
{
    if (total <= 0)
        return 0;
    const double perMille = double(fetched) / double(total) * 1000.0;
    return int(std::clamp(perMille, 0.0, 1000.0));
}
