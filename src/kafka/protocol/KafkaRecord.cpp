#include "KafkaRecord.h"

#include "KafkaDecodeBudget.h"

#include <QLatin1String>

#include <algorithm>

namespace {

// The smallest header: key length and value length, one byte each.
constexpr std::int64_t MinHeaderSize = 2;

// Timestamps and offsets are bases plus deltas taken from the wire; corrupt
// deltas wrap around rather than overflow.
std::int64_t addWrapping(std::int64_t base, std::int64_t delta)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(delta));
}

// Zigzag length, then the bytes: -1 is null, 0 empty (not null). A length
// below -1 is malformed: nothing is read and the buffer counts an overrun.
// The bytes stay where they are when the buffer owns its storage: a batch's
// records share it rather than each allocating a copy.
QByteArray readNullableBytes(KafkaBuffer& buffer)
{
    const std::int64_t length = buffer.readVarS64();
    if (length == -1)
        return QByteArray();
    if (length < -1) {
        buffer.countOverrun(1);
        return QByteArray();
    }
    if (length == 0)
        return QByteArray(0, Qt::Uninitialized);
    return buffer.readSharedRawBytes(length);
}

// As readNullableBytes, decoded from UTF-8 straight out of the buffer.
QString readNullableString(KafkaBuffer& buffer)
{
    const std::int64_t length = buffer.readVarS64();
    if (length == -1)
        return QString();
    if (length < -1) {
        buffer.countOverrun(1);
        return QString();
    }
    if (length == 0)
        return QString(QLatin1String(""));
    if (length > buffer.remaining()) {
        buffer.skip(length);
        return QString();
    }
    const QString text = QString::fromUtf8(buffer.data.constData() + buffer.position, static_cast<qsizetype>(length));
    buffer.position += length;
    return text;
}

} // namespace

KafkaRecord KafkaRecord::parseFromBuffer(KafkaBuffer& buffer, std::int64_t firstTimestamp, const QString& topic,
    std::int32_t partition, std::int64_t baseOffset, KafkaDecodeBudget& budget)
{
    KafkaRecord record;
    readFromBuffer(record, buffer, firstTimestamp, topic, partition, baseOffset, budget);
    return record;
}

void KafkaRecord::readFromBuffer(KafkaRecord& record, KafkaBuffer& buffer, std::int64_t firstTimestamp,
    const QString& topic, std::int32_t partition, std::int64_t baseOffset, KafkaDecodeBudget& budget)
{
    // The record's length: records are read by their fields.
    buffer.readVarU64();
    record.attributes = buffer.readS8();
    record.timestamp = addWrapping(firstTimestamp, buffer.readVarS64());
    record.offset = addWrapping(baseOffset, buffer.readVarS64());
    record.topic = topic;
    record.partition = partition;
    record.key = readNullableBytes(buffer);
    record.value = readNullableBytes(buffer);
    budget.charge(KafkaDecodeBudget::RecordOverhead + record.key.size() + record.value.size());
    // Most records have no headers: their list is left as it is.
    if (const std::int64_t headerCount = buffer.readVarS64(); headerCount > 0)
        record.headers = readHeadersFromBuffer(buffer, headerCount, budget);
}

QList<KafkaHeader> KafkaRecord::readHeadersFromBuffer(
    KafkaBuffer& buffer, std::int64_t count, KafkaDecodeBudget& budget)
{
    QList<KafkaHeader> headers;
    // Headers are small on the wire and large in memory: the list holds no
    // more than the bytes left and the budget can back.
    headers.reserve(static_cast<qsizetype>(std::min(
        buffer.fitting(count, MinHeaderSize), budget.remaining() / KafkaDecodeBudget::HeaderOverhead)));
    for (std::int64_t i = 0; i < count; ++i) {
        if (buffer.atEnd()) {
            buffer.countOverrun(count - i);
            break;
        }
        KafkaHeader header;
        header.key = readNullableString(buffer);
        header.value = readNullableBytes(buffer);
        budget.charge(KafkaDecodeBudget::HeaderOverhead + 2 * header.key.size() + header.value.size());
        if (budget.exceeded())
            break;
        headers.append(std::move(header));
    }
    return headers;
}
