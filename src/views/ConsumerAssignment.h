#pragma once

#include <QString>

#include <cstdint>

// One partition assigned to a member of a consumer group.
struct ConsumerAssignment {
    QString memberId;
    // Null when the member has no static instance id.
    QString groupInstanceId;
    QString clientId;
    QString clientHost;
    QString topic;
    std::int32_t partition = 0;
};
