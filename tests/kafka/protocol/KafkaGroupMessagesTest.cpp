#include "KafkaConsumerGroupDescribeRequest.h"
#include "KafkaConsumerGroupDescribeResponse.h"
#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaDescribeGroupsResponse.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"
#include "MessageImages.h"

#include <QTest>

#include <limits>

namespace {

// Version 1, topic "t1" with partitions 0 and 3, topic "t2" without any, user data "ud".
const QByteArray Assignment = hexBytes("00 01  00 00 00 02  00 02 74 31  00 00 00 02  00 00 00 00  00 00 00 03"
                                      "00 02 74 32  FF FF FF FF  00 00 00 02 75 64");

KafkaResult<KafkaConsumerProtocolAssignment> parseAssignment(QByteArray bytes)
{
    KafkaBuffer buffer(std::move(bytes));
    return KafkaConsumerProtocolAssignment::parseFromBuffer(buffer);
}

} // namespace

class KafkaGroupMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestFrames()
    {
        const auto listGroups = [](std::int16_t version, const QStringList& states) {
            return requestFrame(KafkaListGroupsRequest(7, "ab", states), version);
        };
        const auto describeGroups = [](std::int16_t version, const QStringList& groups, bool operations) {
            return requestFrame(KafkaDescribeGroupsRequest(7, "ab", groups, operations), version);
        };
        const auto offsetFetch = [](std::int16_t version, const QList<KafkaOffsetFetchRequest::Topic>& topics, bool requireStable) {
            return requestFrame(KafkaOffsetFetchRequest(7, "ab", "g", topics, requireStable), version);
        };
        const auto consumerGroupDescribe = [](std::int16_t version, const QStringList& groups, bool operations) {
            return requestFrame(KafkaConsumerGroupDescribeRequest(7, "ab", groups, operations), version);
        };
        const QList<KafkaOffsetFetchRequest::Topic> one { { "t", { 0, 2 } } };
        verifyBytes({ { listGroups(0, { "Stable" }), "00 00 00 0C  00 10 00 00 00 00 00 07 00 02 61 62" },
            { listGroups(3, { "Stable" }), "00 00 00 0E  00 10 00 03 00 00 00 07 00 02 61 62 00  00" },
            { listGroups(4, {}), "00 00 00 0F  00 10 00 04 00 00 00 07 00 02 61 62 00  01 00" },
            { listGroups(4, { "Empty", "Stable" }),
                "00 00 00 1C  00 10 00 04 00 00 00 07 00 02 61 62 00  03  06 45 6D 70 74 79  07 53 74 61 62 6C 65  00" },
            { describeGroups(0, { "g1" }, true), "00 00 00 14  00 0F 00 00 00 00 00 07 00 02 61 62  00 00 00 01 00 02 67 31" },
            { describeGroups(3, { "g1" }, true), "00 00 00 15  00 0F 00 03 00 00 00 07 00 02 61 62  00 00 00 01 00 02 67 31  01" },
            { describeGroups(4, { "g1", "" }, false),
                "00 00 00 17  00 0F 00 04 00 00 00 07 00 02 61 62  00 00 00 02 00 02 67 31 00 00  00" },
            { offsetFetch(0, one, true), "00 00 00 22  00 09 00 00 00 00 00 07 00 02 61 62"
                                         "00 01 67  00 00 00 01  00 01 74  00 00 00 02 00 00 00 00 00 00 00 02" },
            // Compact forms from version 6; require-stable from version 7; no topics is an empty list, not null.
            { offsetFetch(6, one, true),
                "00 00 00 1D  00 09 00 06 00 00 00 07 00 02 61 62 00  02 67  02  02 74  03 00 00 00 00 00 00 00 02  00  00" },
            { offsetFetch(7, one, true),
                "00 00 00 1E  00 09 00 07 00 00 00 07 00 02 61 62 00  02 67  02  02 74  03 00 00 00 00 00 00 00 02  00  01  00" },
            { offsetFetch(7, {}, false), "00 00 00 12  00 09 00 07 00 00 00 07 00 02 61 62 00  02 67  01  00  00" },
            // Flexible in every version.
            { consumerGroupDescribe(0, { "g1" }, true), "00 00 00 13  00 45 00 00 00 00 00 07 00 02 61 62 00  02 03 67 31  01  00" },
            { consumerGroupDescribe(1, { "g1", "" }, false),
                "00 00 00 14  00 45 00 01 00 00 00 07 00 02 61 62 00  03 03 67 31 01  00  00" } });
    }

    void groupResponses()
    {
        // Unknown tagged fields after the header, in the groups and at the end.
        const auto v3 = parseImage<KafkaListGroupsResponse>(3, hexBytes("00 00 00 07  01 05 02 AA BB  00 00 00 00  00 00  02"
            "03 67 31  09 63 6F 6E 73 75 6D 65 72  01 00 01 FF  02 01 00 03 01 CC"));
        QVERIFY2(v3.hasValue(), qPrintable(failureText(v3)));
        QVERIFY(v3.value().groups.value(0).groupState.isNull());

        const QByteArray v4Image = hexBytes("00 00 00 07  01 05 02 AA BB  00 00 00 0A  00 00  03"
            "03 67 31  09 63 6F 6E 73 75 6D 65 72  07 53 74 61 62 6C 65  01 00 01 FF  03 67 32  01  06 45 6D 70 74 79  00  01 80 01 01 DD");
        const auto v4 = parseImage<KafkaListGroupsResponse>(4, v4Image);
        QVERIFY2(v4.hasValue(), qPrintable(failureText(v4)));
        QCOMPARE(v4.value().throttleTimeMs, 10);
        const KafkaListGroupsResponse::Group empty = v4.value().groups.value(1);
        QVERIFY(empty.protocolType.isEmpty() && !empty.protocolType.isNull());
        QCOMPARE(empty.groupState, QString("Empty"));

        verifyDamagedImageFails<KafkaListGroupsResponse>(4, v4Image, "Invalid ListGroups response");

        const QByteArray describeImage = hexBytes("00 00 00 07  00 00 00 00  00 00 00 01"
            "00 10  00 02 67 31  00 04 44 65 61 64  00 08 63 6F 6E 73 75 6D 65 72  00 00  00 00 00 02"
            "00 02 6D 31  FF FF  00 02 63 31  00 02 2F 68  FF FF FF FF  00 00 00 00"
            "00 02 6D 32  00 02 69 31  00 02 63 32  00 02 2F 68  00 00 00 01 09  00 00 00 00  80 00 00 00");
        const auto describe = parseImage<KafkaDescribeGroupsResponse>(4, describeImage);
        QVERIFY2(describe.hasValue(), qPrintable(failureText(describe)));
        const KafkaDescribeGroupsResponse::Group& dead = describe.value().groups.value(0);
        QVERIFY(dead.protocolData.isEmpty() && !dead.protocolData.isNull());
        QCOMPARE(dead.authorizedOperations, std::numeric_limits<std::int32_t>::min());
        QVERIFY(dead.members.value(0).groupInstanceId.isNull());
        QCOMPARE(dead.members.value(1).groupInstanceId, QString("i1"));
        QCOMPARE(dead.members.value(1).memberMetadata, hexBytes("09"));

        verifyDamagedImageFails<KafkaDescribeGroupsResponse>(4, describeImage, "Invalid DescribeGroups response");

        // Member m1 owns t-0 and t-2 and is to keep nothing; an unknown tagged
        // field in the member. Version 1 adds the member type (%1).
        const QString consumerImage = "00 00 00 07  00  00 00 00 00  02"
            "00 00  00  03 67 31  07 53 74 61 62 6C 65  00 00 00 05  00 00 00 04  08 75 6E 69 66 6F 72 6D  02"
            "03 6D 31  00  00  00 00 00 05  03 63 31  03 2F 68  02 02 74  00"
            "02  00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF  02 74  03 00 00 00 00 00 00 00 02  00  00"
            "01  00  %1  01 00 01 FF"
            "80 00 00 00  00  00";
        for (const auto& [version, memberType] : { std::pair<std::int16_t, int> { 0, -1 }, { 1, 1 } }) {
            const QByteArray image = hexBytes(qPrintable(consumerImage.arg(version == 0 ? "" : "01")));
            const auto consumer = parseImage<KafkaConsumerGroupDescribeResponse>(version, image);
            QVERIFY2(consumer.hasValue(), qPrintable(failureText(consumer)));
            const KafkaConsumerGroupDescribeResponse::Group& group = consumer.value().groups.value(0);
            QCOMPARE(group.groupState, QString("Stable"));
            QCOMPARE(group.assignmentEpoch, 4);
            QCOMPARE(group.assignorName, QString("uniform"));
            QVERIFY(group.errorMessage.isNull());
            const KafkaConsumerGroupDescribeResponse::Member& member = group.members.value(0);
            QCOMPARE(QStringList({ member.memberId, member.clientId, member.clientHost }), QStringList({ "m1", "c1", "/h" }));
            QVERIFY(member.instanceId.isNull() && member.rackId.isNull() && member.subscribedTopicRegex.isNull());
            QCOMPARE(member.subscribedTopicNames, QStringList { "t" });
            const KafkaConsumerGroupDescribeResponse::TopicPartitions owned = member.assignment.topicPartitions.value(0);
            QCOMPARE(owned.topicId, QUuid("{00112233-4455-6677-8899-aabbccddeeff}"));
            QCOMPARE(owned.topicName, QString("t"));
            QCOMPARE(owned.partitions, (QList<std::int32_t> { 0, 2 }));
            QVERIFY(member.targetAssignment.topicPartitions.isEmpty());
            QCOMPARE(int(member.memberType), memberType);
            QCOMPARE(group.authorizedOperations, std::numeric_limits<std::int32_t>::min());
            verifyDamagedImageFails<KafkaConsumerGroupDescribeResponse>(version, image, "Invalid ConsumerGroupDescribe response");
        }
    }

    void offsetFetchResponses()
    {
        // Unknown tagged fields after the header, in the partition, the topic
        // and at the end (tag 128 takes a two-byte varint).
        const auto v6 = parseImage<KafkaOffsetFetchResponse>(6,
            hexBytes("00 00 00 07  01 00 02 AA BB  00 00 00 00  02  02 74  02  00 00 00 01  00 00 00 00 00 00 00 64"
                     "FF FF FF FF  00  00 00  01 01 01 EE  01 02 00  00 00  01 80 01 01 DD"));
        QVERIFY2(v6.hasValue(), qPrintable(failureText(v6)));
        QCOMPARE(v6.value().topics.value(0).name, QString("t"));
        const KafkaOffsetFetchResponse::Partition& first = v6.value().topics.value(0).partitions.value(0);
        QCOMPARE(first.partitionIndex, 1);
        QCOMPARE(first.committedOffset, 100);
        QCOMPARE(first.committedLeaderEpoch, -1);
        QVERIFY(first.metadata.isNull());

        const QByteArray v7Image = hexBytes("00 00 00 07  01 00 00  00 00 00 03  03  03 74 31  01  01 07 01 EE  03 74 32  02"
                                            "00 00 00 02  00 00 00 00 00 00 00 07  00 00 00 01  01  00 00  01 00 02 AA BB"
                                            "00  00 1B  02 00 00 01 01 CC");
        const auto v7 = parseImage<KafkaOffsetFetchResponse>(7, v7Image);
        QVERIFY2(v7.hasValue(), qPrintable(failureText(v7)));
        QCOMPARE(v7.value().throttleTimeMs, 3);
        QCOMPARE(v7.value().errorCode, KafkaProtocolError::RebalanceInProgress);
        QCOMPARE(v7.value().topics.size(), 2);
        QCOMPARE(v7.value().topics[0].name, QString("t1"));
        QVERIFY(v7.value().topics[0].partitions.isEmpty());
        QCOMPARE(v7.value().topics[1].name, QString("t2"));
        const KafkaOffsetFetchResponse::Partition& second = v7.value().topics[1].partitions.value(0);
        QCOMPARE(second.partitionIndex, 2);
        QCOMPARE(second.committedOffset, 7);
        QCOMPARE(second.committedLeaderEpoch, 1);
        QVERIFY(second.metadata.isEmpty() && !second.metadata.isNull());

        verifyDamagedImageFails<KafkaOffsetFetchResponse>(7, v7Image, "Invalid OffsetFetch response");
    }

    void assignments()
    {
        // Newer versions of the consumer protocol append fields.
        for (const QByteArray& bytes : { Assignment, Assignment + hexBytes("00 00 00 05 99") }) {
            const auto result = parseAssignment(bytes);
            QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
            QCOMPARE(result.value().version, std::int16_t(1));
            QCOMPARE(result.value().topics.size(), 2);
            QCOMPARE(result.value().topics[0].topic, QString("t1"));
            QCOMPARE(result.value().topics[0].partitions, (QList<std::int32_t> { 0, 3 }));
            QVERIFY(result.value().topics[1].partitions.isEmpty());
            QCOMPARE(result.value().userData, QByteArray("ud"));
        }
        // Members of a rebalancing group have no assignment yet; null lists and user data.
        for (const QByteArray& bytes : { QByteArray(), QByteArray(""), hexBytes("00 03  FF FF FF FF  00 00 00 00") }) {
            const auto result = parseAssignment(bytes);
            QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
            QVERIFY(result.value().topics.isEmpty());
            QVERIFY(result.value().userData.isNull());
        }
        const auto truncated = parseAssignment(Assignment.chopped(6));
        QVERIFY(truncated.isError());
        QCOMPARE(truncated.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(truncated.error().message, QString("Invalid ConsumerProtocolAssignment data"));
        QCOMPARE(truncated.error().causes.size(), 1);
        QCOMPARE(truncated.error().causes[0].code, KafkaErrorCode::BufferOverrun);
        QCOMPARE(truncated.error().causes[0].message, QString("Read out of the buffer's bounds by 4 bytes"));
    }
};

QTEST_GUILESS_MAIN(KafkaGroupMessagesTest)
#include "KafkaGroupMessagesTest.moc"
