#pragma once

// The error lists that the main window and each tab keep for the errors
// popover. Whatever a peer or a file claims, a list keeps only the newest
// MaxEntries: older ones are dropped as new ones come.

#include "Error.h"

#include <QList>

#include <algorithm>
#include <utility>

namespace ErrorList {

// Far more than anyone reads in the popover, small enough that a flood of
// failures costs little memory (an entry is a message of a few hundred bytes
// and its causes).
inline constexpr qsizetype MaxEntries = 1000;

// Drops the oldest entries that leave room for `incoming` more.
inline void makeRoom(QList<KafkaError>& errors, qsizetype incoming)
{
    const qsizetype excess = errors.size() + incoming - MaxEntries;
    if (excess > 0)
        errors.remove(0, std::min(excess, errors.size()));
}

inline void append(QList<KafkaError>& errors, KafkaError error)
{
    makeRoom(errors, 1);
    errors.append(std::move(error));
}

inline void append(QList<KafkaError>& errors, const QList<KafkaError>& more)
{
    const QList<KafkaError> newest = more.size() > MaxEntries ? more.mid(more.size() - MaxEntries) : more;
    makeRoom(errors, newest.size());
    errors.append(newest);
}

} // namespace ErrorList
