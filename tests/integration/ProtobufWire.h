#pragma once

// Protocol Buffers values written field by field in the wire format.

#include <QByteArray>

namespace ProtobufWire {

inline QByteArray varint(quint64 value)
{
    QByteArray bytes;
    for (; value >= 0x80; value >>= 7)
        bytes.append(char((value & 0x7F) | 0x80));
    return bytes.append(char(value));
}

// Wire types: 0 varint, 1 64-bit, 2 length-delimited.
inline QByteArray tag(int field, int wireType) { return varint(quint64(field) << 3 | quint64(wireType)); }

inline QByteArray lengthDelimited(int field, const QByteArray& content)
{
    return tag(field, 2) + varint(quint64(content.size())) + content;
}

} // namespace ProtobufWire
