#pragma once

#include "FilterCondition.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

// A user's filter: the records of one topic for which every condition holds.
// No conditions selects every record of the topic.
struct Filter {
    std::int64_t id = 0; // unique within one records tab
    QString topic; // compared case-sensitively
    QList<FilterCondition> conditions;

    // One line naming the topic and each condition, e.g.
    // "Topic orders, partition between 0 and 3, key containing abc".
    // Timestamps are shown in local time.
    QString buildDescription() const;
};

Q_DECLARE_METATYPE(Filter)
