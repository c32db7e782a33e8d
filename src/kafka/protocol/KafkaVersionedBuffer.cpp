#include "KafkaVersionedBuffer.h"

std::int8_t KafkaVersionedBuffer::readS8(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readS8() : 0;
}

bool KafkaVersionedBuffer::readBool(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readS8() != 0 : false;
}

std::int16_t KafkaVersionedBuffer::readS16(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readS16() : 0;
}

std::int16_t KafkaVersionedBuffer::readErrorCode(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readErrorCode() : 0;
}

std::int32_t KafkaVersionedBuffer::readS32(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readS32() : 0;
}

std::int64_t KafkaVersionedBuffer::readS64(std::int16_t min, std::int16_t max)
{
    return has(min, max) ? buffer.readS64() : 0;
}

QString KafkaVersionedBuffer::readString(std::int16_t min, std::int16_t max)
{
    if (!has(min, max))
        return QString();
    return flexible ? buffer.readCompactString() : buffer.readString();
}

QString KafkaVersionedBuffer::readNullableString(std::int16_t min, std::int16_t max)
{
    return readString(min, max);
}

QByteArray KafkaVersionedBuffer::readBytes(std::int16_t min, std::int16_t max)
{
    if (!has(min, max))
        return QByteArray();
    return flexible ? buffer.readCompactBytes() : buffer.readBytes();
}

QByteArray KafkaVersionedBuffer::readSharedBytes(std::int16_t min, std::int16_t max)
{
    if (!has(min, max))
        return QByteArray();
    return flexible ? buffer.readCompactBytes() : buffer.readSharedBytes();
}

QList<TaggedField> KafkaVersionedBuffer::readTaggedFields(std::int16_t min, std::int16_t max)
{
    if (!flexible || !has(min, max))
        return {};
    const std::uint64_t count = buffer.readVarU64();
    const std::int64_t bounded = count > std::uint64_t(INT32_MAX) ? INT32_MAX : static_cast<std::int64_t>(count);
    return buffer.readElements(bounded, [](KafkaBuffer& b) {
        TaggedField field;
        field.tag = b.readVarU64();
        const std::uint64_t size = b.readVarU64();
        if (size > std::uint64_t(INT64_MAX))
            b.countOverrun(1);
        else
            field.data = b.readRawBytes(static_cast<std::int64_t>(size));
        return field;
    });
}

void KafkaVersionedBuffer::writeS8(std::int8_t value, std::int16_t min, std::int16_t max)
{
    if (has(min, max))
        buffer.writeS8(value);
}

void KafkaVersionedBuffer::writeBool(bool value, std::int16_t min, std::int16_t max)
{
    if (has(min, max))
        buffer.writeS8(value ? 1 : 0);
}

void KafkaVersionedBuffer::writeS16(std::int16_t value, std::int16_t min, std::int16_t max)
{
    if (has(min, max))
        buffer.writeS16(value);
}

void KafkaVersionedBuffer::writeS32(std::int32_t value, std::int16_t min, std::int16_t max)
{
    if (has(min, max))
        buffer.writeS32(value);
}

void KafkaVersionedBuffer::writeS64(std::int64_t value, std::int16_t min, std::int16_t max)
{
    if (has(min, max))
        buffer.writeS64(value);
}

void KafkaVersionedBuffer::writeString(const QString& text, std::int16_t min, std::int16_t max)
{
    if (!has(min, max))
        return;
    if (!flexible) {
        buffer.writeString(text);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    buffer.writeVarU64(static_cast<std::uint64_t>(bytes.size()) + 1);
    buffer.write(bytes.constData(), bytes.size());
}

void KafkaVersionedBuffer::writeArrayLength(std::int64_t count, std::int16_t min, std::int16_t max)
{
    if (!has(min, max))
        return;
    if (flexible)
        buffer.writeVarU64(static_cast<std::uint64_t>(count) + 1);
    else
        buffer.writeS32(static_cast<std::int32_t>(count));
}

void KafkaVersionedBuffer::writeTaggedFields(std::int16_t min, std::int16_t max)
{
    if (flexible && has(min, max))
        buffer.writeTaggedFields({});
}

std::int64_t KafkaVersionedBuffer::readArrayCount()
{
    if (!flexible)
        return buffer.readS32();
    const std::uint64_t n = buffer.readVarU64();
    if (n == 0)
        return -1;
    return n - 1 > std::uint64_t(INT32_MAX) ? INT32_MAX : static_cast<std::int64_t>(n - 1);
}
