#pragma once

#include "KafkaApiKey.h"
#include "KafkaBuffer.h"
#include "KafkaRequest.h"
#include "MessageImages.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// The process's peak resident memory (VmHWM) in bytes.
inline qint64 peakResidentBytes()
{
    QFile file(QStringLiteral("/proc/self/status"));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype at = status.indexOf("VmHWM:") + 6;
    return status.mid(at, status.indexOf('\n', at) - at).trimmed().split(' ').first().toLongLong() * 1024;
}

// A request with a chosen API key, version range, body, broker wait and response limit.
class TestRequest final : public KafkaRequest {
public:
    TestRequest(std::int16_t apiKey, std::int32_t correlationId, std::int16_t minVersion, std::int16_t maxVersion)
        : KafkaRequest(static_cast<KafkaApiKey>(apiKey), correlationId, QStringLiteral("fake-test"))
        , m_minVersion(minVersion)
        , m_maxVersion(maxVersion)
    {
    }
    std::int16_t minSupportedVersion() const override { return m_minVersion; }
    std::int16_t maxSupportedVersion() const override { return m_maxVersion; }
    std::int16_t firstFlexibleVersion() const override { return -1; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t) const override
    {
        buffer.write(body.constData(), body.size());
    }
    std::chrono::milliseconds brokerWait() const override { return wait; }
    std::int64_t maxResponseSize() const override { return responseLimit; }

    QByteArray body = "body";
    std::chrono::milliseconds wait { 0 };
    std::int64_t responseLimit = DefaultMaxResponseSize;

private:
    std::int16_t m_minVersion;
    std::int16_t m_maxVersion;
};

// A stand-in broker on 127.0.0.1 that records request frames, answers ApiVersions (and in Cluster
// mode Metadata v1 from `brokers` and `topics`) and hands every other frame to onFrame.
class FakeBroker {
public:
    enum class Mode { Frames, Cluster };
    struct ApiRange {
        std::int16_t apiKey, minVersion, maxVersion;
    };
    struct Frame {
        std::int16_t apiKey = 0;
        std::int16_t apiVersion = 0;
        std::int32_t correlationId = 0;
        QString clientId;
        QByteArray body; // after the header
        QPointer<QTcpSocket> peer;
    };
    struct Broker {
        std::int32_t nodeId = 0;
        std::int32_t port = 0; // 0: this fake's own port
    };
    struct Topic {
        QString name;
        QList<std::int32_t> partitionLeaders; // leader of partition i
    };

    bool autoApiVersions = true;
    QList<ApiRange> apiVersions { { 3, 0, 12 }, { 17, 0, 1 }, { 18, 0, 3 }, { 36, 0, 2 } };
    bool autoMetadata = false;
    QList<Broker> brokers { Broker { 1, 0 } };
    QList<Topic> topics;
    // The next n ApiVersions or Metadata requests are answered by hanging up.
    int hangUpOnApiVersions = 0;
    int hangUpOnMetadata = 0;
    // The next n Metadata requests are answered with no brokers and no topics, as by a broker
    // that is starting or stopping.
    int emptyMetadataAnswers = 0;
    // The next Metadata requests are answered with `brokers` and these topics, one list per answer, as
    // by a broker that is starting and does not yet know all of its topics; then with `topics` again.
    QList<QList<Topic>> partialMetadataAnswers;
    std::function<void(const Frame&)> onFrame;

    explicit FakeBroker(Mode mode = Mode::Frames)
    {
        if (mode == Mode::Cluster) {
            autoMetadata = true;
            apiVersions = { { 18, 0, 1 }, { 3, 1, 1 }, { 17, 1, 1 } };
        }
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this]() { acceptConnections(); });
        m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_server.serverPort(); }
    QTcpServer& server() { return m_server; }
    QTcpSocket* peer() const { return m_peers.empty() ? nullptr : m_peers.back().data(); } // the last accepted
    int acceptedConnections() const { return static_cast<int>(m_peers.size()); }
    int openConnections() const
    {
        return static_cast<int>(std::count_if(m_peers.begin(), m_peers.end(),
            [](const QPointer<QTcpSocket>& p) { return p && p->state() == QAbstractSocket::ConnectedState; }));
    }
    const QList<Frame>& frames() const { return m_frames; }
    int requestCount(KafkaApiKey apiKey) const
    {
        return static_cast<int>(std::count_if(m_frames.begin(), m_frames.end(),
            [apiKey](const Frame& frame) { return frame.apiKey == static_cast<std::int16_t>(apiKey); }));
    }
    bool waitForFrames(qsizetype count) { return QTest::qWaitFor([&]() { return m_frames.size() >= count; }, 5000); }

    static QByteArray frameBytes(std::int32_t correlationId, const QByteArray& payload)
    {
        return ResponseImage().s32(static_cast<std::int32_t>(payload.size() + 4)).s32(correlationId).data() + payload;
    }
    void reply(std::int32_t correlationId, const QByteArray& payload) { writeRaw(frameBytes(correlationId, payload)); }
    void reply(const Frame& frame, const QByteArray& payload) { write(frame.peer, frameBytes(frame.correlationId, payload)); }
    void writeRaw(const QByteArray& bytes) { write(peer(), bytes); }
    static void trickle(const Frame& frame, const QByteArray& bytes, std::chrono::milliseconds interval)
    {
        QTcpSocket* socket = frame.peer;
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, bytes, next = qsizetype(0)]() mutable {
            if (next < bytes.size())
                write(socket, bytes.mid(next++, 1));
        });
        timer->start(interval);
    }
    void hangUp() { close(peer()); }
    void closeAll()
    {
        std::for_each(m_peers.begin(), m_peers.end(), close);
    }

    static QByteArray apiVersionsPayload(const QList<ApiRange>& ranges, std::int16_t errorCode = 0)
    {
        ResponseImage image;
        image.s16(errorCode).s32(static_cast<std::int32_t>(ranges.size()));
        for (const ApiRange& range : ranges)
            image.s16(range.apiKey).s16(range.minVersion).s16(range.maxVersion);
        return image.s32(0).data();
    }

    // The first broker is the controller; each partition lives on its leader alone.
    QByteArray metadataPayload() const { return metadataPayload(topics); }
    QByteArray metadataPayload(const QList<Topic>& listed) const
    {
        ResponseImage image;
        image.s32(static_cast<std::int32_t>(brokers.size()));
        for (const Broker& broker : brokers)
            image.s32(broker.nodeId).string(QStringLiteral("127.0.0.1")).s32(broker.port ? broker.port : port()).nullString();
        image.s32(brokers.isEmpty() ? -1 : brokers.first().nodeId).s32(static_cast<std::int32_t>(listed.size()));
        for (const Topic& topic : listed) {
            image.s16(0).string(topic.name).s8(0).s32(static_cast<std::int32_t>(topic.partitionLeaders.size()));
            for (int index = 0; index < topic.partitionLeaders.size(); ++index) {
                const std::int32_t leader = topic.partitionLeaders[index];
                image.s16(0).s32(index).s32(leader).int32Array({ leader }).int32Array({ leader });
            }
        }
        return image.data();
    }

    static QByteArray handshakePayload(std::int16_t errorCode, const QList<QString>& mechanisms)
    {
        ResponseImage image;
        image.s16(errorCode).s32(static_cast<std::int32_t>(mechanisms.size()));
        for (const QString& mechanism : mechanisms)
            image.string(mechanism);
        return image.data();
    }

    static QByteArray authBytes(const Frame& frame) { return KafkaBuffer(frame.body).readBytes(); }

private:
    void acceptConnections()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_peers.emplace_back(socket);
            auto pending = std::make_shared<QByteArray>();
            QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket, pending]() { readFrames(*socket, *pending); });
            QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void readFrames(QTcpSocket& socket, QByteArray& pending)
    {
        pending.append(socket.readAll());
        while (pending.size() >= 4 && socket.state() == QAbstractSocket::ConnectedState) {
            const auto size = qFromBigEndian<std::int32_t>(pending.constData());
            if (pending.size() < 4 + size)
                return;
            KafkaBuffer buffer(pending.mid(4, size));
            pending.remove(0, 4 + size);
            Frame frame;
            frame.apiKey = buffer.readS16();
            frame.apiVersion = buffer.readS16();
            frame.correlationId = buffer.readS32();
            frame.clientId = buffer.readString();
            frame.body = buffer.readRawBytes(buffer.remaining());
            frame.peer = &socket;
            m_frames.append(frame);
            answer(socket, frame);
        }
    }

    void answer(QTcpSocket& socket, const Frame& frame)
    {
        const bool versions = frame.apiKey == static_cast<std::int16_t>(KafkaApiKey::ApiVersions);
        const bool metadata = frame.apiKey == static_cast<std::int16_t>(KafkaApiKey::Metadata);
        int& hangUps = versions ? hangUpOnApiVersions : hangUpOnMetadata;
        if ((versions || metadata) && hangUps > 0) {
            --hangUps;
            close(&socket);
        } else if (versions && autoApiVersions) {
            write(&socket, frameBytes(frame.correlationId, apiVersionsPayload(apiVersions)));
        } else if (metadata && emptyMetadataAnswers > 0) {
            --emptyMetadataAnswers;
            write(&socket, frameBytes(frame.correlationId, ResponseImage().s32(0).s32(-1).s32(0).data()));
        } else if (metadata && autoMetadata && !partialMetadataAnswers.isEmpty()) {
            write(&socket, frameBytes(frame.correlationId, metadataPayload(partialMetadataAnswers.takeFirst())));
        } else if (metadata && autoMetadata) {
            write(&socket, frameBytes(frame.correlationId, metadataPayload()));
        } else if (onFrame) {
            onFrame(frame);
        }
    }

    static void write(QTcpSocket* socket, const QByteArray& bytes)
    {
        if (socket && socket->write(bytes) >= 0)
            socket->flush();
    }
    static void close(QTcpSocket* socket) { socket ? socket->close() : void(); }

    QTcpServer m_server;
    std::vector<QPointer<QTcpSocket>> m_peers;
    QList<Frame> m_frames;
};
