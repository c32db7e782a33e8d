#include "KafkaBuffer.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

void KafkaBuffer::skip(std::int64_t n)
{
    if (n <= 0)
        return;
    const std::int64_t available = remaining();
    if (n > available) {
        countOverrun(n - available);
        position += available;
    } else {
        position += n;
    }
}

std::int64_t KafkaBuffer::read(void* destination, std::int64_t n)
{
    if (n <= 0)
        return 0;
    const std::int64_t copied = std::min(n, remaining());
    if (copied > 0)
        std::memcpy(destination, data.constData() + position, static_cast<size_t>(copied));
    if (copied < n) {
        std::memset(static_cast<char*>(destination) + copied, 0, static_cast<size_t>(n - copied));
        countOverrun(n - copied);
    }
    position += copied;
    return copied;
}

void KafkaBuffer::write(const void* source, std::int64_t n)
{
    if (n <= 0)
        return;
    if (position + n > size())
        data.resize(static_cast<qsizetype>(position + n));
    std::memcpy(data.data() + position, source, static_cast<size_t>(n));
    position += n;
}

std::int16_t KafkaBuffer::readS16()
{
    uchar bytes[2];
    read(bytes, 2);
    return qFromBigEndian<std::int16_t>(bytes);
}

std::int32_t KafkaBuffer::readS32()
{
    uchar bytes[4];
    read(bytes, 4);
    return qFromBigEndian<std::int32_t>(bytes);
}

std::uint32_t KafkaBuffer::readU32()
{
    uchar bytes[4];
    read(bytes, 4);
    return qFromBigEndian<std::uint32_t>(bytes);
}

std::int64_t KafkaBuffer::readS64()
{
    uchar bytes[8];
    read(bytes, 8);
    return qFromBigEndian<std::int64_t>(bytes);
}

void KafkaBuffer::writeS8(std::int8_t value)
{
    write(&value, 1);
}

void KafkaBuffer::writeS16(std::int16_t value)
{
    uchar bytes[2];
    qToBigEndian(value, bytes);
    write(bytes, 2);
}

void KafkaBuffer::writeS32(std::int32_t value)
{
    uchar bytes[4];
    qToBigEndian(value, bytes);
    write(bytes, 4);
}

void KafkaBuffer::writeS64(std::int64_t value)
{
    uchar bytes[8];
    qToBigEndian(value, bytes);
    write(bytes, 8);
}

std::int16_t KafkaBuffer::readErrorCode()
{
    const std::int16_t code = readS16();
    return code >= 0 && code <= 99 ? code : std::int16_t(-1);
}

std::uint64_t KafkaBuffer::readLongVarU64()
{
    // The cursor is kept in a local: the bytes are chars, which may alias it.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    const std::int64_t end = size();
    std::int64_t at = position;
    std::uint64_t value = 0;
    for (int i = 0; i < MaxVarintBytes; ++i) {
        if (at >= end) {
            position = at;
            countOverrun(1);
            return value;
        }
        const std::uint8_t byte = bytes[at++];
        value |= std::uint64_t(byte & 0x7f) << (7 * i);
        if (!(byte & 0x80)) {
            position = at;
            return value;
        }
    }
    // Longer than any 64-bit value: malformed.
    position = at;
    countOverrun(1);
    return value;
}

void KafkaBuffer::writeVarU64(std::uint64_t value)
{
    uchar bytes[MaxVarintBytes];
    int count = 0;
    do {
        uchar byte = value & 0x7f;
        value >>= 7;
        if (value)
            byte |= 0x80;
        bytes[count++] = byte;
    } while (value);
    write(bytes, count);
}

QByteArray KafkaBuffer::readRawBytes(std::int64_t length)
{
    if (length <= 0)
        return QByteArray();
    const std::int64_t available = std::min(length, remaining());
    QByteArray bytes(data.constData() + position, static_cast<qsizetype>(available));
    position += available;
    countOverrun(length - available);
    return bytes;
}

QString KafkaBuffer::readString()
{
    const std::int16_t length = readS16();
    if (length == -1)
        return QString();
    if (length < -1) {
        countOverrun(1);
        return QString();
    }
    if (length == 0)
        return QString(QLatin1String(""));
    return QString::fromUtf8(readRawBytes(length));
}

QString KafkaBuffer::readCompactString()
{
    const std::uint64_t n = readVarU64();
    if (n == 0)
        return QString();
    if (n == 1)
        return QString(QLatin1String(""));
    if (n - 1 > std::uint64_t(INT64_MAX)) {
        countOverrun(1);
        return QString();
    }
    return QString::fromUtf8(readRawBytes(static_cast<std::int64_t>(n - 1)));
}

QByteArray KafkaBuffer::readBytes()
{
    const std::int32_t length = readS32();
    if (length < -1) {
        countOverrun(1);
        return QByteArray();
    }
    return readRawBytes(length);
}

QByteArray KafkaBuffer::readSharedBytes()
{
    const std::int32_t length = readS32();
    if (length < -1) {
        countOverrun(1);
        return QByteArray();
    }
    return readSharedRawBytes(length);
}

QByteArray KafkaBuffer::readCompactBytes()
{
    const std::uint64_t n = readVarU64();
    if (n <= 1)
        return QByteArray();
    if (n - 1 > std::uint64_t(INT64_MAX)) {
        countOverrun(1);
        return QByteArray();
    }
    return readRawBytes(static_cast<std::int64_t>(n - 1));
}

void KafkaBuffer::writeString(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    writeS16(static_cast<std::int16_t>(bytes.size()));
    write(bytes.constData(), bytes.size());
}

void KafkaBuffer::writeTaggedFields(const QList<TaggedField>& fields)
{
    writeVarU64(static_cast<std::uint64_t>(fields.size()));
    for (const TaggedField& field : fields) {
        writeVarU64(field.tag);
        writeVarU64(static_cast<std::uint64_t>(field.data.size()));
        write(field.data.constData(), field.data.size());
    }
}

std::optional<KafkaError> KafkaBuffer::checkBufferReadEntirely() const
{
    if (overrun > 0)
        return KafkaError(KafkaErrorCode::BufferOverrun,
            QStringLiteral("Read out of the buffer's bounds by %1 bytes").arg(overrun));
    if (position < size())
        return KafkaError(KafkaErrorCode::BufferNotFullyRead,
            QStringLiteral("Did not read all the data out of the buffer. %1 bytes remain").arg(size() - position));
    return std::nullopt;
}
