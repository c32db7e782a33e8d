#pragma once

// The errors of one answer or one pass over many partitions. A peer can name a
// million failing partitions in one answer; only the first MaxKept errors are
// built and kept, the others are counted, and taking the batch adds one last
// entry saying how many were left out.

#include "Error.h"

#include <QList>
#include <QString>

#include <utility>

class ErrorBatch {
public:
    // Enough to show what went wrong and with which partitions; the rest are
    // almost always more of the same.
    static constexpr qsizetype MaxKept = 20;

    // `make` builds the error; it is called only while there is room.
    template <typename Make>
    void add(Make&& make)
    {
        if (m_kept.size() < MaxKept)
            m_kept.append(std::forward<Make>(make)());
        else
            ++m_leftOut;
    }

    bool isEmpty() const { return m_kept.isEmpty(); }

    // The kept errors and, when some were left out, one entry of `code`
    // counting them.
    QList<KafkaError> take(KafkaErrorCode code)
    {
        if (m_leftOut > 0) {
            m_kept.append(KafkaError(code,
                QStringLiteral("%1 more errors of the same answer were left out").arg(m_leftOut)));
        }
        m_leftOut = 0;
        return std::exchange(m_kept, {});
    }

private:
    QList<KafkaError> m_kept;
    qsizetype m_leftOut = 0;
};
