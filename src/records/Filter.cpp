#include "Filter.h"

#include <QDate>
#include <QDateTime>

namespace {

QString targetFragment(const FilterCondition& condition)
{
    switch (condition.target) {
    case FilterCondition::Target::Partition:
        return QStringLiteral(", partition");
    case FilterCondition::Target::Offset:
        return QStringLiteral(", offset");
    case FilterCondition::Target::Timestamp:
        return QStringLiteral(", timestamp");
    case FilterCondition::Target::Key:
        return QStringLiteral(", key");
    case FilterCondition::Target::Header:
        return QStringLiteral(", header ") + condition.headerName;
    case FilterCondition::Target::Body:
        return QStringLiteral(", body");
    case FilterCondition::Target::Records:
        break;
    }
    return QString();
}

QString operatorFragment(FilterCondition::Operator operation)
{
    switch (operation) {
    case FilterCondition::Operator::EqualTo:
        return QStringLiteral(" equal to ");
    case FilterCondition::Operator::GreaterThan:
        return QStringLiteral(" greater than ");
    case FilterCondition::Operator::LowerThan:
        return QStringLiteral(" lower than ");
    case FilterCondition::Operator::Between:
        return QStringLiteral(" between ");
    case FilterCondition::Operator::Containing:
        return QStringLiteral(" containing ");
    case FilterCondition::Operator::Matching:
        return QStringLiteral(" matching ");
    case FilterCondition::Operator::First:
    case FilterCondition::Operator::Last:
        break;
    }
    return QString();
}

QString timestampOperand(const FilterCondition& condition)
{
    static const QString fullFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    switch (condition.operation) {
    case FilterCondition::Operator::GreaterThan:
        return QDateTime::fromMSecsSinceEpoch(condition.min).toString(fullFormat);
    case FilterCondition::Operator::LowerThan:
        return QDateTime::fromMSecsSinceEpoch(condition.max).toString(fullFormat);
    case FilterCondition::Operator::Between: {
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(condition.min);
        const QDateTime end = QDateTime::fromMSecsSinceEpoch(condition.max);
        const QDate today = QDate::currentDate();
        const QString format = start.date() == today && end.date() == today ? QStringLiteral("HH:mm:ss") : fullFormat;
        return QStringLiteral("%1 and %2").arg(start.toString(format), end.toString(format));
    }
    default:
        return QString();
    }
}

QString operand(const FilterCondition& condition)
{
    switch (condition.target) {
    case FilterCondition::Target::Records:
        if (condition.operation == FilterCondition::Operator::First)
            return QStringLiteral(", first %1 records for each partition").arg(condition.max);
        return QStringLiteral(", last %1 records for each partition").arg(condition.min);
    case FilterCondition::Target::Key:
    case FilterCondition::Target::Header:
    case FilterCondition::Target::Body:
        return condition.operation == FilterCondition::Operator::Matching ? condition.regex.pattern()
                                                                          : condition.expectedString;
    case FilterCondition::Target::Partition:
    case FilterCondition::Target::Offset:
        switch (condition.operation) {
        case FilterCondition::Operator::Between:
            return QStringLiteral("%1 and %2").arg(QString::number(condition.min), QString::number(condition.max));
        case FilterCondition::Operator::GreaterThan:
            return QString::number(condition.min);
        case FilterCondition::Operator::LowerThan:
            return QString::number(condition.max);
        default:
            return QString::number(condition.value);
        }
    case FilterCondition::Target::Timestamp:
        return timestampOperand(condition);
    }
    return QString();
}

} // namespace

QString Filter::buildDescription() const
{
    QString description = QStringLiteral("Topic %1").arg(topic);
    for (const FilterCondition& condition : conditions)
        description += targetFragment(condition) + operatorFragment(condition.operation) + operand(condition);
    return description;
}
