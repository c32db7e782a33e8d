#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaDescribeGroupsResponse.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

#include <limits>

namespace {

QByteArray listGroupsV0Image()
{
    return hexBytes("00 00 00 07"
                    "00 00"
                    "00 00 00 01"
                    "00 02 67 31  00 08 63 6F 6E 73 75 6D 65 72");
}

QByteArray listGroupsV2Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 64"
                    "00 0F"
                    "00 00 00 02"
                    "00 02 67 31  00 08 63 6F 6E 73 75 6D 65 72"
                    "00 02 67 32  00 00");
}

// Unknown tagged fields after the header, in the group and at the end.
QByteArray listGroupsV3Image()
{
    return hexBytes("00 00 00 07  01 05 02 AA BB"
                    "00 00 00 00"
                    "00 00"
                    "02"
                    "03 67 31  09 63 6F 6E 73 75 6D 65 72  01 00 01 FF"
                    "02 01 00 03 01 CC");
}

QByteArray listGroupsV4Image()
{
    return hexBytes("00 00 00 07  01 05 02 AA BB"
                    "00 00 00 0A"
                    "00 00"
                    "03"
                    "03 67 31  09 63 6F 6E 73 75 6D 65 72  07 53 74 61 62 6C 65  01 00 01 FF"
                    "03 67 32  01  06 45 6D 70 74 79  00"
                    "01 80 01 01 DD");
}

QByteArray describeGroupsV0Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 01"
                    "00 00  00 02 67 31  00 06 53 74 61 62 6C 65  00 08 63 6F 6E 73 75 6D 65 72  00 05 72 61 6E 67 65"
                    "00 00 00 01"
                    "00 02 6D 31  00 02 63 31  00 02 2F 68  00 00 00 02 01 02  00 00 00 00");
}

// The member's assignment: version 0, topic "t" with partition 2, null user data.
QByteArray describeGroupsV3Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 05"
                    "00 00 00 01"
                    "00 00  00 02 67 31  00 06 53 74 61 62 6C 65  00 08 63 6F 6E 73 75 6D 65 72  00 05 72 61 6E 67 65"
                    "00 00 00 01"
                    "00 02 6D 31  00 02 63 31  00 02 2F 68  00 00 00 00"
                    "00 00 00 15  00 00  00 00 00 01  00 01 74  00 00 00 01  00 00 00 02  FF FF FF FF"
                    "00 00 01 00");
}

QByteArray describeGroupsV4Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 00"
                    "00 00 00 01"
                    "00 10  00 02 67 31  00 04 44 65 61 64  00 08 63 6F 6E 73 75 6D 65 72  00 00"
                    "00 00 00 02"
                    "00 02 6D 31  FF FF        00 02 63 31  00 02 2F 68  FF FF FF FF     00 00 00 00"
                    "00 02 6D 32  00 02 69 31  00 02 63 32  00 02 2F 68  00 00 00 01 09  00 00 00 00"
                    "80 00 00 00");
}

// Version 1, topic "t1" with partitions 0 and 3, topic "t2" without any, user data "ud".
QByteArray assignmentImage()
{
    return hexBytes("00 01"
                    "00 00 00 02"
                    "00 02 74 31  00 00 00 02  00 00 00 00  00 00 00 03"
                    "00 02 74 32  FF FF FF FF"
                    "00 00 00 02 75 64");
}

KafkaResult<KafkaConsumerProtocolAssignment> parseAssignment(const QByteArray& bytes)
{
    KafkaBuffer buffer(bytes);
    return KafkaConsumerProtocolAssignment::parseFromBuffer(buffer);
}

} // namespace

class KafkaGroupMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void listGroupsRequestFrame_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<QStringList>("states");
        QTest::addColumn<QByteArray>("expected");

        const QStringList stable { "Stable" };
        QTest::newRow("v0 filter not written") << qint16(0) << stable
                                               << hexBytes("00 00 00 0C  00 10 00 00 00 00 00 07 00 02 61 62");
        QTest::newRow("v2 filter not written") << qint16(2) << stable
                                               << hexBytes("00 00 00 0C  00 10 00 02 00 00 00 07 00 02 61 62");
        QTest::newRow("v3 tagged fields only") << qint16(3) << stable
                                               << hexBytes("00 00 00 0E  00 10 00 03 00 00 00 07 00 02 61 62 00  00");
        QTest::newRow("v4 empty filter") << qint16(4) << QStringList()
                                         << hexBytes("00 00 00 0F  00 10 00 04 00 00 00 07 00 02 61 62 00  01 00");
        QTest::newRow("v4 two states") << qint16(4) << QStringList { "Empty", "Stable" }
                                       << hexBytes("00 00 00 1C  00 10 00 04 00 00 00 07 00 02 61 62 00"
                                                   "03  06 45 6D 70 74 79  07 53 74 61 62 6C 65  00");
    }

    void listGroupsRequestFrame()
    {
        QFETCH(qint16, version);
        QFETCH(QStringList, states);
        QFETCH(QByteArray, expected);
        const KafkaListGroupsRequest request(7, "ab", states);
        QCOMPARE(spacedHex(requestFrame(request, version)), spacedHex(expected));
    }

    void describeGroupsRequestFrame_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<bool>("includeOperations");
        QTest::addColumn<QByteArray>("expected");

        const QStringList g1 { "g1" };
        QTest::newRow("v0 no operations flag")
            << qint16(0) << g1 << true
            << hexBytes("00 00 00 14  00 0F 00 00 00 00 00 07 00 02 61 62  00 00 00 01 00 02 67 31");
        QTest::newRow("v3 operations flag")
            << qint16(3) << g1 << true
            << hexBytes("00 00 00 15  00 0F 00 03 00 00 00 07 00 02 61 62  00 00 00 01 00 02 67 31  01");
        QTest::newRow("v4 operations flag")
            << qint16(4) << g1 << true
            << hexBytes("00 00 00 15  00 0F 00 04 00 00 00 07 00 02 61 62  00 00 00 01 00 02 67 31  01");
        QTest::newRow("v4 two groups, no operations")
            << qint16(4) << QStringList { "g1", "" } << false
            << hexBytes("00 00 00 17  00 0F 00 04 00 00 00 07 00 02 61 62  00 00 00 02 00 02 67 31 00 00  00");
    }

    void describeGroupsRequestFrame()
    {
        QFETCH(qint16, version);
        QFETCH(QStringList, groups);
        QFETCH(bool, includeOperations);
        QFETCH(QByteArray, expected);
        const KafkaDescribeGroupsRequest request(7, "ab", groups, includeOperations);
        QCOMPARE(spacedHex(requestFrame(request, version)), spacedHex(expected));
    }

    void listGroupsResponseClassic()
    {
        const auto v0 = parseImage<KafkaListGroupsResponse>(0, listGroupsV0Image());
        QVERIFY2(v0.hasValue(), qPrintable(failureText(v0)));
        QCOMPARE(v0.value().correlationId, 7);
        QCOMPARE(v0.value().throttleTimeMs, 0);
        QCOMPARE(v0.value().errorCode, KafkaProtocolError::None);
        QCOMPARE(v0.value().groups.size(), 1);
        QCOMPARE(v0.value().groups[0].groupId, QString("g1"));
        QCOMPARE(v0.value().groups[0].protocolType, QString("consumer"));
        QVERIFY(v0.value().groups[0].groupState.isNull());

        const auto v2 = parseImage<KafkaListGroupsResponse>(2, listGroupsV2Image());
        QVERIFY2(v2.hasValue(), qPrintable(failureText(v2)));
        QCOMPARE(v2.value().throttleTimeMs, 100);
        QCOMPARE(v2.value().errorCode, KafkaProtocolError::CoordinatorNotAvailable);
        QCOMPARE(v2.value().groups.size(), 2);
        QCOMPARE(v2.value().groups[1].groupId, QString("g2"));
        QVERIFY(v2.value().groups[1].protocolType.isEmpty() && !v2.value().groups[1].protocolType.isNull());
        QVERIFY(v2.value().groups[1].groupState.isNull());
    }

    void listGroupsResponseFlexible()
    {
        const auto v3 = parseImage<KafkaListGroupsResponse>(3, listGroupsV3Image());
        QVERIFY2(v3.hasValue(), qPrintable(failureText(v3)));
        QCOMPARE(v3.value().correlationId, 7);
        QCOMPARE(v3.value().groups.size(), 1);
        QCOMPARE(v3.value().groups[0].groupId, QString("g1"));
        QCOMPARE(v3.value().groups[0].protocolType, QString("consumer"));
        QVERIFY(v3.value().groups[0].groupState.isNull());

        const auto v4 = parseImage<KafkaListGroupsResponse>(4, listGroupsV4Image());
        QVERIFY2(v4.hasValue(), qPrintable(failureText(v4)));
        const KafkaListGroupsResponse& response = v4.value();
        QCOMPARE(response.correlationId, 7);
        QCOMPARE(response.throttleTimeMs, 10);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.groups.size(), 2);
        QCOMPARE(response.groups[0].groupState, QString("Stable"));
        QCOMPARE(response.groups[1].groupId, QString("g2"));
        QVERIFY(response.groups[1].protocolType.isEmpty() && !response.groups[1].protocolType.isNull());
        QCOMPARE(response.groups[1].groupState, QString("Empty"));
    }

    void describeGroupsResponseV0()
    {
        const auto result = parseImage<KafkaDescribeGroupsResponse>(0, describeGroupsV0Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaDescribeGroupsResponse& response = result.value();
        QCOMPARE(response.correlationId, 7);
        QCOMPARE(response.throttleTimeMs, 0);
        QCOMPARE(response.groups.size(), 1);
        const KafkaDescribeGroupsResponse::Group& group = response.groups[0];
        QCOMPARE(group.errorCode, KafkaProtocolError::None);
        QCOMPARE(group.groupId, QString("g1"));
        QCOMPARE(group.groupState, QString("Stable"));
        QCOMPARE(group.protocolType, QString("consumer"));
        QCOMPARE(group.protocolData, QString("range"));
        QCOMPARE(group.authorizedOperations, 0);
        QCOMPARE(group.members.size(), 1);
        const KafkaDescribeGroupsResponse::Member& member = group.members[0];
        QCOMPARE(member.memberId, QString("m1"));
        QVERIFY(member.groupInstanceId.isNull());
        QCOMPARE(member.clientId, QString("c1"));
        QCOMPARE(member.clientHost, QString("/h"));
        QCOMPARE(member.memberMetadata, hexBytes("01 02"));
        QVERIFY(member.memberAssignment.isNull());
    }

    void describeGroupsResponseV3()
    {
        const auto result = parseImage<KafkaDescribeGroupsResponse>(3, describeGroupsV3Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaDescribeGroupsResponse& response = result.value();
        QCOMPARE(response.throttleTimeMs, 5);
        QCOMPARE(response.groups.size(), 1);
        QCOMPARE(response.groups[0].authorizedOperations, 256);
        QCOMPARE(response.groups[0].members.size(), 1);
        const KafkaDescribeGroupsResponse::Member& member = response.groups[0].members[0];
        QVERIFY(member.groupInstanceId.isNull());
        QVERIFY(member.memberMetadata.isNull());

        KafkaBuffer blob(member.memberAssignment);
        const auto assignment = KafkaConsumerProtocolAssignment::parseFromBuffer(blob);
        QVERIFY(assignment.hasValue());
        QCOMPARE(assignment.value().topics.size(), 1);
        QCOMPARE(assignment.value().topics[0].topic, QString("t"));
        QCOMPARE(assignment.value().topics[0].partitions, (QList<std::int32_t> { 2 }));
    }

    void describeGroupsResponseV4()
    {
        const auto result = parseImage<KafkaDescribeGroupsResponse>(4, describeGroupsV4Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaDescribeGroupsResponse::Group& group = result.value().groups.value(0);
        QCOMPARE(group.errorCode, KafkaProtocolError::NotCoordinator);
        QCOMPARE(group.groupState, QString("Dead"));
        QVERIFY(group.protocolData.isEmpty() && !group.protocolData.isNull());
        QCOMPARE(group.authorizedOperations, std::numeric_limits<std::int32_t>::min());
        QCOMPARE(group.members.size(), 2);
        QCOMPARE(group.members[0].memberId, QString("m1"));
        QVERIFY(group.members[0].groupInstanceId.isNull());
        QCOMPARE(group.members[0].clientId, QString("c1"));
        QVERIFY(group.members[0].memberMetadata.isNull());
        QCOMPARE(group.members[1].memberId, QString("m2"));
        QCOMPARE(group.members[1].groupInstanceId, QString("i1"));
        QCOMPARE(group.members[1].clientId, QString("c2"));
        QCOMPARE(group.members[1].clientHost, QString("/h"));
        QCOMPARE(group.members[1].memberMetadata, hexBytes("09"));
    }

    void damagedListGroupsResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, listGroupsV0Image());
        addDamagedImageRows("v2", 2, listGroupsV2Image());
        addDamagedImageRows("v3", 3, listGroupsV3Image());
        addDamagedImageRows("v4", 4, listGroupsV4Image());
    }

    void damagedListGroupsResponse()
    {
        verifyDamagedImageFails<KafkaListGroupsResponse>("Invalid ListGroups response");
    }

    void damagedDescribeGroupsResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, describeGroupsV0Image());
        addDamagedImageRows("v3", 3, describeGroupsV3Image());
        addDamagedImageRows("v4", 4, describeGroupsV4Image());
    }

    void damagedDescribeGroupsResponse()
    {
        verifyDamagedImageFails<KafkaDescribeGroupsResponse>("Invalid DescribeGroups response");
    }

    void assignmentDecodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("hasTopics");

        QTest::newRow("known fields") << assignmentImage() << true;
        // Newer versions of the consumer protocol append fields.
        QTest::newRow("trailing bytes ignored") << assignmentImage() + hexBytes("00 00 00 05 99") << true;
        // Members of a group that is rebalancing have no assignment yet.
        QTest::newRow("null bytes") << QByteArray() << false;
        QTest::newRow("empty bytes") << QByteArray("") << false;
    }

    void assignmentDecodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, hasTopics);
        const auto result = parseAssignment(bytes);
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaConsumerProtocolAssignment& assignment = result.value();
        if (!hasTopics) {
            QVERIFY(assignment.topics.isEmpty());
            QVERIFY(assignment.userData.isNull());
            return;
        }
        QCOMPARE(assignment.version, std::int16_t(1));
        QCOMPARE(assignment.topics.size(), 2);
        QCOMPARE(assignment.topics[0].topic, QString("t1"));
        QCOMPARE(assignment.topics[0].partitions, (QList<std::int32_t> { 0, 3 }));
        QCOMPARE(assignment.topics[1].topic, QString("t2"));
        QVERIFY(assignment.topics[1].partitions.isEmpty());
        QCOMPARE(assignment.userData, QByteArray("ud"));
    }

    void assignmentNullListsAndUserData()
    {
        const auto result = parseAssignment(hexBytes("00 03  FF FF FF FF  00 00 00 00"));
        QVERIFY(result.hasValue());
        QCOMPARE(result.value().version, std::int16_t(3));
        QVERIFY(result.value().topics.isEmpty());
        QVERIFY(result.value().userData.isNull());
    }

    void truncatedAssignmentFails_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("causeMessage");

        const QByteArray image = assignmentImage();
        QTest::newRow("one byte short") << image.chopped(1) << QString("Read out of the buffer's bounds by 1 bytes");
        QTest::newRow("user data missing") << image.chopped(6) << QString("Read out of the buffer's bounds by 4 bytes");
        // The count depends on how much of the missing data the reader asked for.
        QTest::newRow("cut inside a partition list") << image.left(20) << QString();
    }

    void truncatedAssignmentFails()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, causeMessage);
        const auto result = parseAssignment(bytes);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(result.error().message, QString("Invalid ConsumerProtocolAssignment data"));
        QCOMPARE(result.error().causes.size(), 1);
        QCOMPARE(result.error().causes[0].code, KafkaErrorCode::BufferOverrun);
        if (!causeMessage.isNull())
            QCOMPARE(result.error().causes[0].message, causeMessage);
    }
};

QTEST_GUILESS_MAIN(KafkaGroupMessagesTest)
#include "KafkaGroupMessagesTest.moc"
