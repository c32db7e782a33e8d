#pragma once

#include "Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

// One tagged field of a flexible message.
struct TaggedField {
    std::uint64_t tag = 0;
    QByteArray data;
};

// The byte buffer in which requests are written and responses, record batches
// and decompressed record sets are read. Integers are big-endian, strings UTF-8.
//
// Reading never fails on the spot: a read past the end yields zero bytes and is
// counted in `overrun`; parsers check the count once, at the end, with
// checkBufferReadEntirely(). Malformed lengths and over-long varints are
// counted as overrun too, so that a parse that met them fails.
class KafkaBuffer {
public:
    // A varint has at most this many bytes (a 64-bit value in 7-bit groups).
    static constexpr int MaxVarintBytes = 10;

    KafkaBuffer() = default;
    explicit KafkaBuffer(QByteArray bytes) : data(std::move(bytes)) { }

    QByteArray data;
    std::int64_t position = 0;
    std::int64_t overrun = 0;

    std::int64_t size() const { return data.size(); }
    std::int64_t remaining() const { return position < size() ? size() - position : 0; }
    bool atEnd() const { return position >= size(); }
    // Moves the cursor by n bytes (n >= 0); moving past the end counts overrun.
    void skip(std::int64_t n);
    // Counts n more bytes wanted beyond the end of the data (or a malformed
    // field). The count saturates instead of overflowing on hostile lengths.
    void countOverrun(std::int64_t n)
    {
        if (n > 0)
            overrun = n > std::numeric_limits<std::int64_t>::max() - overrun ? std::numeric_limits<std::int64_t>::max() : overrun + n;
    }

    std::int64_t read(void* destination, std::int64_t n);
    void write(const void* source, std::int64_t n);

    std::int8_t readS8() { return static_cast<std::int8_t>(readU8()); }
    std::uint8_t readU8()
    {
        if (position < size())
            return static_cast<std::uint8_t>(data.constData()[position++]);
        countOverrun(1);
        return 0;
    }
    std::int16_t readS16();
    std::int32_t readS32();
    std::uint32_t readU32();
    std::int64_t readS64();
    void writeS8(std::int8_t value);
    void writeS16(std::int16_t value);
    void writeS32(std::int32_t value);
    void writeS64(std::int64_t value);

    // An int16 error code, kept when in 0..99 and read as -1 otherwise.
    std::int16_t readErrorCode();

    std::uint64_t readVarU64()
    {
        // Most varints of a record (lengths, deltas, counts) fit one byte,
        // the lengths of values up to 8 KiB two.
        if (position + 1 < size()) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData()) + position;
            if (bytes[0] < 0x80) {
                ++position;
                return bytes[0];
            }
            if (bytes[1] < 0x80) {
                position += 2;
                return (bytes[0] & 0x7fu) | std::uint64_t(bytes[1]) << 7;
            }
        }
        return readLongVarU64();
    }
    void writeVarU64(std::uint64_t value);
    // Zigzag-encoded signed varint, as record fields use.
    std::int64_t readVarS64()
    {
        const std::uint64_t v = readVarU64();
        return static_cast<std::int64_t>((v >> 1) ^ (~(v & 1) + 1));
    }

    // int16 length: -1 null, 0 empty, else that many UTF-8 bytes.
    QString readString();
    // unsigned varint N: 0 null, 1 empty, else N - 1 UTF-8 bytes.
    QString readCompactString();
    // int32 length: -1 and 0 give a null array.
    QByteArray readBytes();
    // unsigned varint N: 0 and 1 give a null array, else N - 1 bytes.
    QByteArray readCompactBytes();
    // Reads exactly `length` bytes (length >= 0), capping the allocation at
    // what is there and counting the shortfall.
    QByteArray readRawBytes(std::int64_t length);
    // As readBytes, but the bytes stay where they are: the array returned
    // shares the buffer's storage (and keeps all of it alive) instead of
    // copying its part, for the large record sets of a Fetch response. Its
    // bytes are not followed by a terminating zero. Bytes of a buffer over
    // raw data, and bytes cut short, are copied as readBytes copies them.
    QByteArray readSharedBytes();
    // As readRawBytes, with the sharing of readSharedBytes: the bytes of a
    // record's key, value and header values stay in their batch.
    QByteArray readSharedRawBytes(std::int64_t length)
    {
        if (length <= 0 || length > remaining() || !data.data_ptr().isMutable())
            return readRawBytes(length);
        QByteArray field = slice(data, position, length);
        position += length;
        return field;
    }
    // The `length` bytes of `bytes` at `from` (both within it) without a
    // copy: sharing its storage when it owns it, else over the same raw bytes
    // (valid only as long as they are). Not followed by a terminating zero.
    static QByteArray slice(const QByteArray& bytes, std::int64_t from, std::int64_t length)
    {
        // A copy of the array shares its storage; narrowed to the part.
        QByteArray part = bytes;
        QByteArray::DataPointer& view = part.data_ptr();
        if (!view.isMutable())
            return QByteArray::fromRawData(bytes.constData() + from, static_cast<qsizetype>(length));
        view.setBegin(view.data() + from);
        view.size = static_cast<qsizetype>(length);
        return part;
    }

    // int16 length and UTF-8 bytes; a null string is written as empty.
    void writeString(const QString& text);

    void writeTaggedFields(const QList<TaggedField>& fields);

    // int32 count (negative gives an empty list), then each element read by
    // `reader(KafkaBuffer&)`. Stops once the data is used up, counting the
    // missing elements as overrun, so a huge count never loops far.
    template <typename Reader>
    auto readArray(Reader reader) -> QList<decltype(reader(*this))>
    {
        return readElements(readS32(), reader);
    }

    // Reads `count` elements (negative gives none) with the rule of readArray.
    // The list is reserved once the first element is read, for no more
    // elements than the bytes left could hold were each as long as the first:
    // never more than the data can back, whatever the count claims.
    template <typename Reader>
    auto readElements(std::int64_t count, Reader reader) -> QList<decltype(reader(*this))>
    {
        QList<decltype(reader(*this))> list;
        for (std::int64_t i = 0; i < count; ++i) {
            if (atEnd()) {
                countOverrun(count - i);
                break;
            }
            const std::int64_t start = position;
            auto element = reader(*this);
            if (i == 0)
                list.reserve(static_cast<qsizetype>(1 + fitting(count - 1, position - start)));
            list.append(std::move(element));
        }
        return list;
    }

    // How many of `count` elements of at least `elementSize` bytes the bytes
    // left can hold: as many as a list read from the wire may reserve.
    std::int64_t fitting(std::int64_t count, std::int64_t elementSize) const
    {
        return std::min(count, remaining() / std::max<std::int64_t>(elementSize, 1));
    }

    // Overrun gives code 35, unread bytes code 36, else nothing.
    std::optional<KafkaError> checkBufferReadEntirely() const;

private:
    // A varint of more than two bytes, or one near the end of the data.
    std::uint64_t readLongVarU64();
};
