#pragma once

#include "KafkaBuffer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <limits>

// A view over a KafkaBuffer that knows the API version of the message and
// whether that version uses the flexible (compact) encodings. Every gated
// operation takes the inclusive version range of its field: outside it
// nothing is read or written and a read yields the zero value.
class KafkaVersionedBuffer {
public:
    static constexpr std::int16_t LastVersion = std::numeric_limits<std::int16_t>::max();

    KafkaVersionedBuffer(KafkaBuffer& target, std::int16_t messageVersion, bool isFlexible)
        : buffer(target)
        , version(messageVersion)
        , flexible(isFlexible)
    {
    }

    KafkaBuffer& buffer;
    std::int16_t version;
    bool flexible;

    bool has(std::int16_t min, std::int16_t max = LastVersion) const { return version >= min && version <= max; }

    std::int8_t readS8(std::int16_t min = 0, std::int16_t max = LastVersion);
    bool readBool(std::int16_t min = 0, std::int16_t max = LastVersion);
    std::int16_t readS16(std::int16_t min = 0, std::int16_t max = LastVersion);
    std::int16_t readErrorCode(std::int16_t min = 0, std::int16_t max = LastVersion);
    std::int32_t readS32(std::int16_t min = 0, std::int16_t max = LastVersion);
    std::int64_t readS64(std::int16_t min = 0, std::int16_t max = LastVersion);
    QString readString(std::int16_t min = 0, std::int16_t max = LastVersion);
    QString readNullableString(std::int16_t min = 0, std::int16_t max = LastVersion);
    // int32 length (compact when flexible); -1 and 0 give a null array.
    QByteArray readBytes(std::int16_t min = 0, std::int16_t max = LastVersion);
    // The same sharing the buffer's storage (KafkaBuffer::readSharedBytes) when not flexible.
    QByteArray readSharedBytes(std::int16_t min = 0, std::int16_t max = LastVersion);
    QList<TaggedField> readTaggedFields(std::int16_t min = 0, std::int16_t max = LastVersion);

    // Array of elements read by `reader(KafkaVersionedBuffer&)`: int32 count
    // (negative gives none) or, when flexible, varint N (0 gives none, else
    // N - 1 elements). Read and reserved by the rule of
    // KafkaBuffer::readElements.
    template <typename Reader>
    auto readArray(Reader reader, std::int16_t min = 0, std::int16_t max = LastVersion)
        -> QList<decltype(reader(*this))>
    {
        if (!has(min, max))
            return {};
        return buffer.readElements(readArrayCount(), [this, &reader](KafkaBuffer&) { return reader(*this); });
    }

    void writeS8(std::int8_t value, std::int16_t min = 0, std::int16_t max = LastVersion);
    void writeBool(bool value, std::int16_t min = 0, std::int16_t max = LastVersion);
    void writeS16(std::int16_t value, std::int16_t min = 0, std::int16_t max = LastVersion);
    void writeS32(std::int32_t value, std::int16_t min = 0, std::int16_t max = LastVersion);
    void writeS64(std::int64_t value, std::int16_t min = 0, std::int16_t max = LastVersion);
    // A null string is written as the empty string.
    void writeString(const QString& text, std::int16_t min = 0, std::int16_t max = LastVersion);
    void writeArrayLength(std::int64_t count, std::int16_t min = 0, std::int16_t max = LastVersion);
    // The empty tagged-field section (one byte 0) when flexible.
    void writeTaggedFields(std::int16_t min = 0, std::int16_t max = LastVersion);

    // Writes an array: its length, then `writer(KafkaVersionedBuffer&, const T&)`
    // for each element.
    template <typename List, typename Writer>
    void writeArray(const List& list, Writer writer, std::int16_t min = 0, std::int16_t max = LastVersion)
    {
        if (!has(min, max))
            return;
        writeArrayLength(list.size());
        for (const auto& element : list)
            writer(*this, element);
    }

private:
    // Element count of an array, -1 when null.
    std::int64_t readArrayCount();
};
