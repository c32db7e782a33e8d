#pragma once

// What the fetch loop and the offset lookups share in reading the broker's
// answers.

#include "Error.h"
#include "KafkaProtocolError.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace KafkaFetcherResponses {

// The leader epoch sent with fetches and offset lookups: none, so that the
// leader does not check it. The metadata is read again only after a request
// has failed; the epoch it gave is out of date after a leader change (a
// broker restart is one), and checking it would fence every later request.
constexpr std::int32_t NoLeaderEpoch = -1;

inline QString number(std::int64_t value)
{
    return QString::number(value);
}

// A failure of the connection itself (socket, time limit, closed, ApiVersions
// exchange), after which another broker may serve the partition. Refused
// logins and protocol violations are not: another attempt would meet them
// again.
inline bool isConnectionFailure(KafkaErrorCode code)
{
    const int value = static_cast<int>(code);
    return (value >= static_cast<int>(KafkaErrorCode::ConnectionRefusedError)
               && value <= static_cast<int>(KafkaErrorCode::SocketWriteError))
        || code == KafkaErrorCode::ApiVersionsError || code == KafkaErrorCode::ConnectionClosed;
}

// A partition error that says the broker asked is not, or no longer, the
// partition's leader, or that the leader is changing: the metadata is read
// again and the request goes to the leader it names.
inline bool isLeaderError(KafkaProtocolError error)
{
    switch (error) {
    case KafkaProtocolError::NotLeaderOrFollower:
    case KafkaProtocolError::LeaderNotAvailable:
    case KafkaProtocolError::UnknownTopicOrPartition:
    case KafkaProtocolError::FencedLeaderEpoch:
    case KafkaProtocolError::UnknownLeaderEpoch:
    case KafkaProtocolError::KafkaStorageError:
    // A new leader answers offset lookups with it until it has caught up.
    case KafkaProtocolError::OffsetNotAvailable:
        return true;
    default:
        return false;
    }
}

// The broker's partition error, as the cause of the fetcher's own error; for
// an offset out of range with the partition's log start offset when known
// (-1: unknown).
inline KafkaError brokerError(KafkaProtocolError error, KafkaErrorCode fallback, std::int64_t logStartOffset = -1)
{
    QString text;
    switch (error) {
    case KafkaProtocolError::OffsetOutOfRange:
        text = logStartOffset >= 0
            ? QStringLiteral("OFFSET_OUT_OF_RANGE: the offset lies outside the partition's log, which starts at offset %1")
                  .arg(logStartOffset)
            : QStringLiteral("OFFSET_OUT_OF_RANGE: the offset lies outside the partition's log");
        break;
    case KafkaProtocolError::NotLeaderOrFollower:
        text = QStringLiteral("NOT_LEADER_OR_FOLLOWER: the broker does not lead the partition");
        break;
    case KafkaProtocolError::LeaderNotAvailable:
        text = QStringLiteral("LEADER_NOT_AVAILABLE: the partition has no leader at the moment");
        break;
    case KafkaProtocolError::UnknownTopicOrPartition:
        text = QStringLiteral("UNKNOWN_TOPIC_OR_PARTITION: the broker does not host the partition");
        break;
    case KafkaProtocolError::FencedLeaderEpoch:
    case KafkaProtocolError::UnknownLeaderEpoch:
        text = QStringLiteral("%1: the leader epoch of the request does not match the broker's")
                   .arg(error == KafkaProtocolError::FencedLeaderEpoch ? "FENCED_LEADER_EPOCH" : "UNKNOWN_LEADER_EPOCH");
        break;
    case KafkaProtocolError::KafkaStorageError:
        text = QStringLiteral("KAFKA_STORAGE_ERROR: the log directory of the partition is offline");
        break;
    case KafkaProtocolError::OffsetNotAvailable:
        text = QStringLiteral("OFFSET_NOT_AVAILABLE: the leader has not yet caught up");
        break;
    case KafkaProtocolError::TopicAuthorizationFailed:
        text = QStringLiteral("TOPIC_AUTHORIZATION_FAILED: the client may not read the topic");
        break;
    default:
        text = QStringLiteral("The broker answered with error code %1").arg(static_cast<int>(error));
        break;
    }
    return KafkaError(mapProtocolError(error, fallback), text);
}

// The partition of a Fetch or ListOffsets response that answers for `topic`
// and `partition`; `name` is the member holding a response topic's name.
template <typename Topic>
auto findPartition(const QList<Topic>& topics, QString Topic::*name, const QString& topic, std::int32_t partition)
    -> const typename decltype(Topic::partitions)::value_type*
{
    for (const Topic& answered : topics) {
        if (answered.*name != topic)
            continue;
        for (const auto& candidate : answered.partitions) {
            if (candidate.partitionIndex == partition)
                return &candidate;
        }
    }
    return nullptr;
}

} // namespace KafkaFetcherResponses
