#pragma once

// The errors of one round of answers (the OffsetFetch or ListOffsets answers
// for one consumer group). A peer can name a million failing partitions; only
// the first MaxKept errors of the round are built and kept, the others are
// counted and summed up in one entry once the round is over.

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
        if (m_keptCount < MaxKept) {
            m_kept.append(std::forward<Make>(make)());
            ++m_keptCount;
        } else {
            ++m_leftOut;
        }
    }

    // The errors kept since the last take, while the round goes on.
    QList<KafkaError> takeKept() { return std::exchange(m_kept, {}); }

    // The errors kept since the last take and, when some were left out, one
    // entry of `code` counting them; for the end of the round.
    QList<KafkaError> take(KafkaErrorCode code)
    {
        QList<KafkaError> errors = takeKept();
        if (m_leftOut > 0)
            errors.append(KafkaError(code, QStringLiteral("%1 more errors like these were left out").arg(m_leftOut)));
        m_leftOut = 0;
        return errors;
    }

    // What to report after an answer of the round, `pending` answers being
    // still to come: the errors kept, and the count of those left out with
    // the last answer.
    QList<KafkaError> takeAfterAnswer(qsizetype pending, KafkaErrorCode code)
    {
        return pending > 0 ? takeKept() : take(code);
    }

private:
    QList<KafkaError> m_kept;
    qsizetype m_keptCount = 0;
    qsizetype m_leftOut = 0;
};
