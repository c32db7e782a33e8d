#pragma once

#include "Error.h"
#include "KafkaApiKey.h"
#include "KafkaBuffer.h"
#include "KafkaRawResponse.h"
#include "KafkaRequest.h"
#include "Result.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <cstdint>

// Builds the bytes of a response frame (after its size prefix) field by field.
class ResponseImage {
public:
    ResponseImage& s8(std::int8_t value)
    {
        m_buffer.writeS8(value);
        return *this;
    }
    ResponseImage& s16(std::int16_t value)
    {
        m_buffer.writeS16(value);
        return *this;
    }
    ResponseImage& s32(std::int32_t value)
    {
        m_buffer.writeS32(value);
        return *this;
    }
    ResponseImage& s64(std::int64_t value)
    {
        m_buffer.writeS64(value);
        return *this;
    }
    // int16 length and UTF-8 bytes.
    ResponseImage& string(const QString& text)
    {
        m_buffer.writeString(text);
        return *this;
    }
    ResponseImage& nullString() { return s16(-1); }
    // int32 length and the bytes.
    ResponseImage& bytes(const QByteArray& data)
    {
        m_buffer.writeS32(static_cast<std::int32_t>(data.size()));
        return raw(data);
    }
    ResponseImage& int32Array(const QList<std::int32_t>& values)
    {
        s32(static_cast<std::int32_t>(values.size()));
        for (std::int32_t value : values)
            s32(value);
        return *this;
    }
    ResponseImage& raw(const QByteArray& data)
    {
        m_buffer.write(data.constData(), data.size());
        return *this;
    }

    QByteArray data() const { return m_buffer.data; }

private:
    KafkaBuffer m_buffer;
};

// The body of a SaslAuthenticate v0 response (after the correlation id): error
// code, nullable message and the mechanism bytes.
inline QByteArray saslAuthenticatePayload(std::int16_t errorCode, const QString& message, const QByteArray& authBytes)
{
    ResponseImage image;
    image.s16(errorCode);
    if (message.isNull())
        image.nullString();
    else
        image.string(message);
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

inline KafkaRawResponse rawResponse(std::int16_t version, const QByteArray& bytes)
{
    KafkaRawResponse raw;
    raw.apiVersion = version;
    raw.buffer = KafkaBuffer(bytes);
    return raw;
}

template <typename Response>
KafkaResult<Response> parseImage(std::int16_t version, const QByteArray& bytes)
{
    KafkaRawResponse raw = rawResponse(version, bytes);
    return Response::parseFromRaw(raw);
}

// The cause of a failed parse, for test failure messages.
template <typename Response>
QString failureText(const KafkaResult<Response>& result)
{
    if (!result.isError())
        return QString();
    const KafkaError& error = result.error();
    return error.causes.isEmpty() ? error.message : QString("%1: %2").arg(error.message, error.causes[0].message);
}

// Columns and rows for a well-formed image cut one byte short and extended by
// one byte: the parse must fail as a corrupt message whose single cause names
// the byte count.
inline void addDamagedImageColumns()
{
    QTest::addColumn<qint16>("version");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("causeCode");
    QTest::addColumn<QString>("causeMessage");
}

inline void addDamagedImageRows(const char* name, std::int16_t version, const QByteArray& image)
{
    QTest::addRow("%s one byte short", name)
        << qint16(version) << image.chopped(1) << int(KafkaErrorCode::BufferOverrun)
        << QString("Read out of the buffer's bounds by 1 bytes");
    QTest::addRow("%s one byte long", name)
        << qint16(version) << image + QByteArray(1, '\0') << int(KafkaErrorCode::BufferNotFullyRead)
        << QString("Did not read all the data out of the buffer. 1 bytes remain");
}

template <typename Response>
void verifyDamagedImageFails(const QString& failureMessage)
{
    QFETCH(qint16, version);
    QFETCH(QByteArray, image);
    QFETCH(int, causeCode);
    QFETCH(QString, causeMessage);
    KafkaRawResponse raw = rawResponse(version, image);
    const KafkaResult<Response> result = Response::parseFromRaw(raw);
    QVERIFY(result.isError());
    QCOMPARE(int(result.error().code), int(KafkaErrorCode::CorruptMessage));
    QCOMPARE(result.error().message, failureMessage);
    QCOMPARE(result.error().causes.size(), 1);
    QCOMPARE(int(result.error().causes[0].code), causeCode);
    QCOMPARE(result.error().causes[0].message, causeMessage);
}
