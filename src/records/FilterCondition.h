#pragma once

#include <QMetaType>
#include <QRegularExpression>
#include <QString>

#include <cstdint>

// One test that a record must pass to be kept by a filter. Which operands are
// read depends on the target and the operator; the others keep whatever the
// editor left in them and are ignored. Timestamps are milliseconds since the
// epoch.
struct FilterCondition {
    enum class Target : std::int32_t {
        Records = 0, // records per partition (First and Last only); never tested per record
        Partition = 1,
        Offset = 2,
        Timestamp = 3,
        Key = 4,
        Header = 5,
        Body = 6,
    };

    enum class Operator : std::int32_t {
        EqualTo = 0,
        GreaterThan = 1, // inclusive: v >= min
        LowerThan = 2, // inclusive: v <= max
        First = 3, // N in max
        Last = 4, // N in min
        Between = 5, // inclusive: min <= v <= max
        Containing = 6,
        Matching = 7,
    };

    Target target = Target::Records;
    Operator operation = Operator::EqualTo;
    QString headerName; // Header only, compared case-sensitively
    QString expectedString; // EqualTo and Containing on Key, Header and Body
    std::int64_t value = 0; // EqualTo on Partition, Offset and Timestamp
    std::int64_t min = 0;
    std::int64_t max = 0;
    QRegularExpression regex; // Matching
};

Q_DECLARE_METATYPE(FilterCondition::Target)
Q_DECLARE_METATYPE(FilterCondition::Operator)
