#pragma once

#include <QByteArray>
#include <QString>

// Bytes written as hexadecimal pairs, spaces allowed: "00 03 61 62".
inline QByteArray hexBytes(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// A byte array shown as spaced hexadecimal pairs, for readable failures.
inline QByteArray spacedHex(const QByteArray& bytes) { return bytes.toHex(' '); }
