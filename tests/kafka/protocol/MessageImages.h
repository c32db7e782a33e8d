#pragma once

#include "Error.h"
#include "KafkaBuffer.h"
#include "KafkaRawResponse.h"
#include "KafkaRequest.h"
#include "Result.h"
#include "TestBytes.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <cstdint>

// Builds the bytes of a response frame (after its size prefix) field by field.
class ResponseImage {
public:
    ResponseImage& s8(std::int8_t value) { return raw(QByteArray(1, char(value))); }
    ResponseImage& s16(std::int16_t value) { return raw(QByteArray(1, char(value >> 8)) + char(value)); }
    ResponseImage& s32(std::int32_t value) { return s16(std::int16_t(value >> 16)).s16(std::int16_t(value)); }
    ResponseImage& s64(std::int64_t value) { return s32(std::int32_t(value >> 32)).s32(std::int32_t(value)); }
    ResponseImage& string(const QString& text) { return s16(std::int16_t(text.toUtf8().size())).raw(text.toUtf8()); }
    ResponseImage& nullString() { return s16(-1); }
    ResponseImage& bytes(const QByteArray& data) { return s32(std::int32_t(data.size())).raw(data); }
    ResponseImage& int32Array(const QList<std::int32_t>& values)
    {
        s32(std::int32_t(values.size()));
        for (std::int32_t value : values)
            s32(value);
        return *this;
    }
    ResponseImage& raw(const QByteArray& data)
    {
        m_data += data;
        return *this;
    }
    QByteArray data() const { return m_data; }

private:
    QByteArray m_data;
};

// The body of a SaslAuthenticate v0 response after the correlation id.
inline QByteArray saslAuthenticatePayload(std::int16_t errorCode, const QString& message, const QByteArray& authBytes)
{
    ResponseImage image;
    image.s16(errorCode);
    message.isNull() ? image.nullString() : image.string(message);
    return image.bytes(authBytes).data();
}

// A complete request frame (size, header, body) as the request writes it.
inline QByteArray requestFrame(const KafkaRequest& request, std::int16_t version)
{
    KafkaBuffer buffer;
    request.writeToBuffer(buffer, version);
    return buffer.data;
}

// The body a request writes for a version, without size and header.
inline QByteArray requestPayload(const KafkaRequest& request, std::int16_t version)
{
    KafkaBuffer buffer;
    request.writePayloadToBuffer(buffer, version);
    return buffer.data;
}

template <typename Response>
KafkaResult<Response> parseImage(std::int16_t version, const QByteArray& bytes)
{
    KafkaRawResponse raw;
    raw.apiVersion = version;
    raw.buffer = KafkaBuffer(bytes);
    return Response::parseFromRaw(raw);
}

// Request bytes beside the hexadecimal pairs they must equal.
inline void verifyBytes(const QList<std::pair<QByteArray, QByteArray>>& rows)
{
    for (const auto& [bytes, hex] : rows)
        QCOMPARE(spacedHex(bytes), spacedHex(hexBytes(hex.constData())));
}

// The cause of a failed parse, for test failure messages.
template <typename Response>
QString failureText(const KafkaResult<Response>& result)
{
    const KafkaError error = result.isError() ? result.error() : KafkaError(KafkaErrorCode::Unknown, QString());
    return error.causes.isEmpty() ? error.message : QString("%1: %2").arg(error.message, error.causes[0].message);
}

// A well-formed image cut one byte short and extended by one byte fails as a
// corrupt message whose single cause names the byte count.
template <typename Response>
void verifyDamagedImageFails(std::int16_t version, const QByteArray& image, const QString& failureMessage)
{
    const std::tuple<QByteArray, KafkaErrorCode, QString> damaged[] = {
        { image.chopped(1), KafkaErrorCode::BufferOverrun, "Read out of the buffer's bounds by 1 bytes" },
        { image + '\0', KafkaErrorCode::BufferNotFullyRead, "Did not read all the data out of the buffer. 1 bytes remain" } };
    for (const auto& [bytes, code, message] : damaged) {
        const KafkaResult<Response> result = parseImage<Response>(version, bytes);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(result.error().message, failureMessage);
        QCOMPARE(result.error().causes.size(), 1);
        QCOMPARE(result.error().causes[0].code, code);
        QCOMPARE(result.error().causes[0].message, message);
    }
}
