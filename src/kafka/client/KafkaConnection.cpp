#include "KafkaConnection.h"

#include "KafkaApiKey.h"
#include "KafkaApiVersionsRequest.h"
#include "KafkaApiVersionsResponse.h"
#include "MemoryPrefault.h"
#include "CertificateFile.h"
#include "FileHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>

namespace {

// A frame's buffer is reserved whole when it begins, up to this size (a
// Fetch answer of this client at its largest): the bytes of an answer land
// where they stay, with no copy and no fresh memory on the way. Reserved
// memory costs address space only until bytes arrive to fill it.
constexpr std::int64_t WholeFrameReserve = 16 * 1024 * 1024;
// Beyond that, a frame's buffer grows to at most this many times the bytes
// that have arrived of it: few reallocations for a large frame, and a frame
// that only claims to be large reserves no more than its sender has sent.
constexpr std::int64_t ReceiveGrowthFactor = 2;
// The size prefix and the correlation id that open every response frame.
constexpr qint64 FrameHeaderSize = 8;

KafkaErrorCode socketErrorCode(QAbstractSocket::SocketError socketError, KafkaErrorCode fallback)
{
    const int value = static_cast<int>(socketError);
    if (value >= 0 && value <= 22)
        return static_cast<KafkaErrorCode>(value + 1);
    return fallback;
}

} // namespace

KafkaConnection::KafkaConnection(
    QString host, int port, QString clientId, const Config::Cluster& cluster, Limits limits)
    : m_host(std::move(host))
    , m_port(port)
    , m_clientId(std::move(clientId))
    , m_cluster(cluster)
    , m_limits(limits)
{
    m_deadlineTimer.setSingleShot(true);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &KafkaConnection::onDeadlineReached);
}

KafkaConnection::~KafkaConnection()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.reset();
    }
    // Waiting requests go without their callbacks; unfinished disconnection
    // futures are cancelled and finished by their promises.
    m_requestQueue.clear();
    m_inFlightRequests.clear();
    m_disconnectPromises.clear();
}

std::int32_t KafkaConnection::nextCorrelationId()
{
    return m_correlationIdCounter.fetch_add(1);
}

QFuture<void> KafkaConnection::disconnectFromHost()
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> future = promise->future();
    m_state.store(State::Disconnecting);
    QMetaObject::invokeMethod(
        this, [this, promise]() { onDisconnectRequested(promise); }, Qt::QueuedConnection);
    return future;
}

KafkaErrorCode KafkaConnection::mapProtocolError(KafkaProtocolError error, KafkaErrorCode fallback)
{
    return ::mapProtocolError(error, fallback);
}

void KafkaConnection::setState(State state)
{
    m_state.store(state);
}

void KafkaConnection::advanceState(State state)
{
    State current = m_state.load();
    while (current != State::Disconnecting && !m_state.compare_exchange_weak(current, state)) { }
}

// --- connecting -------------------------------------------------------------

void KafkaConnection::connectToHost()
{
    const State current = m_state.load();
    if (current >= State::Connecting && current <= State::Ready)
        return;

    abortSocket();
    failInFlightRequests(connectionClosedError());
    reset();
    setState(State::Idle);
    m_setUpDeadline = QDeadlineTimer(m_limits.setUp);
    scheduleDeadline();

    if (m_cluster.protocol == Config::Protocol::Ssl) {
        KafkaResult<QSslConfiguration> configuration = makeSslConfiguration(m_cluster.ssl);
        if (configuration.isError()) {
            onConnectionError(std::move(configuration).error());
            return;
        }
        auto socket = std::make_unique<QSslSocket>();
        QSslSocket* sslSocket = socket.get();
        m_socket = std::move(socket);
        wireSocket();
        sslSocket->setSslConfiguration(configuration.value());
        connect(sslSocket, &QSslSocket::encrypted, this, &KafkaConnection::onConnectionEstablished);
        advanceState(State::Connecting);
        sslSocket->connectToHostEncrypted(m_host, static_cast<quint16>(m_port), QIODevice::ReadWrite,
            QAbstractSocket::AnyIPProtocol);
    } else if (m_cluster.protocol == Config::Protocol::Plaintext) {
        m_socket = std::make_unique<QTcpSocket>();
        wireSocket();
        connect(m_socket.get(), &QAbstractSocket::connected, this, &KafkaConnection::onConnectionEstablished);
        advanceState(State::Connecting);
        m_socket->connectToHost(m_host, static_cast<quint16>(m_port), QIODevice::ReadWrite,
            QAbstractSocket::AnyIPProtocol);
    } else {
        advanceState(State::Connecting);
    }
}

void KafkaConnection::wireSocket()
{
    QTcpSocket* socket = m_socket.get();
    connect(socket, &QIODevice::readyRead, this, &KafkaConnection::dataReceivedFromPeer);
    connect(socket, &QAbstractSocket::disconnected, this, &KafkaConnection::onSocketDisconnected);
    connect(socket, &QAbstractSocket::stateChanged, this, &KafkaConnection::onStateChanged);
    connect(socket, &QAbstractSocket::errorOccurred, this, &KafkaConnection::onErrorOccurred);
    socket->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    socket->moveToThread(thread());
}

void KafkaConnection::onConnectionEstablished()
{
    advanceState(State::Initializing);
    send(std::make_unique<KafkaApiVersionsRequest>(nextCorrelationId(), m_clientId), this,
        [this, attempt = m_attempt](KafkaResult<KafkaRawResponse> result) {
            if (attempt == m_attempt && m_state.load() == State::Initializing)
                onApiVersionsResponse(std::move(result));
        });
}

void KafkaConnection::onApiVersionsResponse(KafkaResult<KafkaRawResponse> result)
{
    if (result.isError()) {
        onConnectionError(std::move(result).error().wrap(KafkaErrorCode::ApiVersionsError,
            QStringLiteral("An error occurred while sending the API versions request to the server")));
        return;
    }
    KafkaResult<KafkaApiVersionsResponse> response = KafkaApiVersionsResponse::parseFromRaw(result.value());
    if (response.isError()) {
        onConnectionError(std::move(response).error().wrap(
            KafkaErrorCode::ApiVersionsError, QStringLiteral("An error occurred while parsing the API versions response")));
        return;
    }
    if (response.value().errorCode != KafkaProtocolError::None) {
        onConnectionError(KafkaError(mapProtocolError(response.value().errorCode, KafkaErrorCode::ApiVersionsError),
            QStringLiteral("The broker responded with an error to the API versions request.")));
        return;
    }
    m_brokerApiVersions.clear();
    for (const KafkaApiVersionsResponse::ApiKey& key : response.value().apiKeys)
        m_brokerApiVersions.insert(key.apiKey, qMakePair(key.minVersion, key.maxVersion));
    onConnectionInitialized();
}

void KafkaConnection::onConnectionInitialized()
{
    if (m_cluster.authentication == Config::Authentication::None) {
        onConnectionReady();
    } else if (m_cluster.authentication == Config::Authentication::Sasl) {
        advanceState(State::Authenticating);
        m_saslStep = 1;
        doSaslAuthentication(nullptr);
    }
}

void KafkaConnection::onConnectionReady()
{
    advanceState(State::Ready);
    m_setUpDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    std::deque<QueuedRequest> queue;
    queue.swap(m_requestQueue);
    requestsChanged();
    for (QueuedRequest& queued : queue)
        onSendRequest(std::move(queued));
    // A disconnection requested meanwhile has failed them instead.
    if (m_state.load() == State::Ready)
        emit connectionReady();
}

// --- sending ----------------------------------------------------------------

void KafkaConnection::onSendRequest(QueuedRequest queued)
{
    if (!queued.context->isAlive())
        return;

    const auto apiKey = static_cast<std::int16_t>(queued.request->header.apiKey);
    bool sendNow = false;
    switch (m_state.load()) {
    case State::Idle:
    case State::Connecting:
        break;
    case State::Initializing:
        sendNow = apiKey == static_cast<std::int16_t>(KafkaApiKey::ApiVersions);
        break;
    case State::Authenticating:
        sendNow = queued.request->isAuthenticationRequest();
        break;
    case State::Ready:
        sendNow = true;
        break;
    case State::Disconnecting:
    case State::Disconnected:
        failRequest(queued,
            KafkaError(KafkaErrorCode::ConnectionClosed,
                QStringLiteral("Unable to send message (key %4) to the kafka broker %1:%2: The connection is closed")
                    .arg(m_host, QString::number(m_port), QString::number(apiKey))));
        return;
    }
    if (!sendNow || !m_socket) {
        m_requestQueue.push_back(std::move(queued));
        requestsChanged();
        return;
    }

    const KafkaRequest& request = *queued.request;
    std::int16_t version = request.maxSupportedVersion();
    if (!m_brokerApiVersions.isEmpty()) {
        const auto found = m_brokerApiVersions.constFind(apiKey);
        if (found == m_brokerApiVersions.constEnd()) {
            failRequest(queued,
                KafkaError(KafkaErrorCode::InvalidRequest,
                    QStringLiteral("The broker does no support api key %1").arg(apiKey)));
            return;
        }
        const std::int16_t brokerMin = found->first;
        const std::int16_t brokerMax = found->second;
        const std::int16_t clientMin = request.minSupportedVersion();
        const std::int16_t clientMax = request.maxSupportedVersion();
        if (clientMax < brokerMin || clientMin > brokerMax) {
            failRequest(queued,
                KafkaError(KafkaErrorCode::UnsupportedVersion,
                    QStringLiteral("No common supported versions for api key %1. The client suported versions are %2 "
                                   "to %3. The broker supported versions are %4 to %5")
                        .arg(QString::number(apiKey), QString::number(clientMin), QString::number(clientMax),
                            QString::number(brokerMin), QString::number(brokerMax))));
            return;
        }
        version = std::min(clientMax, brokerMax);
    }

    KafkaBuffer buffer;
    request.writeToBuffer(buffer, version);
    if (m_socket->write(buffer.data) == -1) {
        failRequest(queued,
            KafkaError(socketErrorCode(m_socket->error(), KafkaErrorCode::SocketWriteError),
                QStringLiteral("An error occurred while sending a message (key %4) to the kafka broker %1:%2: %3")
                    .arg(m_host, QString::number(m_port), m_socket->errorString(), QString::number(apiKey))));
        return;
    }
    // A broker answers in order: nothing is due before the request ahead.
    const auto timeLimit = request.brokerWait() + m_limits.answer;
    QDeadlineTimer deadline(timeLimit);
    if (!m_inFlightRequests.empty())
        deadline = std::max(deadline, m_inFlightRequests.back().deadline);
    m_inFlightRequests.push_back(InFlightRequest { apiKey, version, request.header.correlationId,
        std::move(queued.context), std::move(queued.callback), request.maxResponseSize(), deadline, timeLimit });
    requestsChanged();
}

void KafkaConnection::failRequest(const QueuedRequest& queued, const KafkaError& error)
{
    postError(queued.context, queued.callback, error);
}

// --- receiving --------------------------------------------------------------

void KafkaConnection::reserveReceiveBuffer(std::int64_t needed)
{
    QByteArray& bytes = m_receiveBuffer.data;
    if (needed <= bytes.capacity())
        return;
    // Geometric growth, never beyond the frame nor (past the whole-frame
    // reserve) beyond what the bytes present (`needed` once read) back.
    bytes.reserve(static_cast<qsizetype>(
        std::min<std::int64_t>(m_frameSize, std::max(WholeFrameReserve, needed * ReceiveGrowthFactor))));
}

void KafkaConnection::dataReceivedFromPeer()
{
    while (m_socket) {
        if (!m_frameSizeRead) {
            // The frame is judged on its size and correlation id before any
            // of it is buffered.
            char header[FrameHeaderSize];
            if (m_socket->bytesAvailable() < 4)
                return;
            m_socket->peek(header, 4);
            if (std::optional<KafkaError> error = checkPlainTextAnswer(header)) {
                onConnectionError(std::move(*error));
                return;
            }
            m_frameSize = qFromBigEndian<std::int32_t>(header);
            if (m_frameSize < 4) {
                onConnectionError(KafkaError(KafkaErrorCode::CorruptMessage,
                    QStringLiteral("The kafka broker %1:%2 sent a response frame of %3 bytes")
                        .arg(m_host, QString::number(m_port), QString::number(m_frameSize))));
                return;
            }
            if (m_socket->bytesAvailable() < FrameHeaderSize)
                return;
            m_socket->read(header, FrameHeaderSize);
            if (std::optional<KafkaError> error = checkFrameHeader(qFromBigEndian<std::int32_t>(header + 4))) {
                onConnectionError(std::move(*error));
                return;
            }
            m_receiveBuffer.data = QByteArray(header + 4, 4);
            m_frameSizeRead = true;
        }

        while (m_socket->bytesAvailable() > 0 && m_receiveBuffer.size() < m_frameSize) {
            // What has arrived of the frame is read in one go, straight into
            // the frame's buffer.
            const std::int64_t wanted
                = std::min<std::int64_t>(m_socket->bytesAvailable(), m_frameSize - m_receiveBuffer.size());
            const qsizetype start = m_receiveBuffer.data.size();
            reserveReceiveBuffer(start + wanted);
            m_receiveBuffer.data.resize(start + wanted);
            // A frame's bytes are kept by the records read from it: fresh
            // memory every time.
            MemoryPrefault::forWriting(m_receiveBuffer.data.data() + start, wanted);
            const qint64 got = m_socket->read(m_receiveBuffer.data.data() + start, wanted);
            m_receiveBuffer.data.resize(start + std::max<qint64>(got, 0));
            if (got <= 0)
                break;
        }
        if (m_receiveBuffer.size() < m_frameSize)
            return;

        m_frameSizeRead = false;
        KafkaBuffer frame(std::move(m_receiveBuffer.data));
        m_receiveBuffer = KafkaBuffer();
        const std::int32_t correlationId = qFromBigEndian<std::int32_t>(frame.data.constData());

        const auto entry = std::find_if(m_inFlightRequests.begin(), m_inFlightRequests.end(),
            [correlationId](const InFlightRequest& request) { return request.correlationId == correlationId; });
        if (entry == m_inFlightRequests.end())
            continue;
        InFlightRequest answered = std::move(*entry);
        m_inFlightRequests.erase(entry);
        requestsChanged();
        if (answered.context->guards(this)) {
            // The connection's own exchange goes on at once, so that its
            // outcome comes before whatever the socket reports next (a broker
            // closes the connection right after refusing a login).
            answered.callback(KafkaResult<KafkaRawResponse>(
                KafkaRawResponse { answered.apiKey, answered.apiVersion, std::move(frame) }));
            continue;
        }
        answered.context->post(
            [callback = std::move(answered.callback),
                response = KafkaRawResponse { answered.apiKey, answered.apiVersion, std::move(frame) }]() mutable {
                callback(KafkaResult<KafkaRawResponse>(std::move(response)));
            });
    }
}

// --- failures and closing ---------------------------------------------------

void KafkaConnection::onErrorOccurred(QAbstractSocket::SocketError socketError)
{
    // Answers that arrived before the failure are still delivered.
    dataReceivedFromPeer();
    if (!m_socket)
        return;
    if (socketError == QAbstractSocket::RemoteHostClosedError && m_state.load() == State::Ready)
        return;
    onConnectionError(KafkaError(socketErrorCode(socketError, KafkaErrorCode::UnknownSocketError),
        QStringLiteral("A network error occurred with host '%1:%2': %3")
            .arg(m_host, QString::number(m_port), m_socket->errorString())));
}

void KafkaConnection::onConnectionError(KafkaError error)
{
    const bool closing = m_state.load() == State::Disconnecting || !m_disconnectPromises.empty();
    reset();
    setState(State::Disconnected);
    const bool delivered = failWaitingRequests(error);
    finishDisconnectPromises();
    if (!delivered && !closing)
        emit connectionError(error);
}

void KafkaConnection::onSocketDisconnected()
{
    dataReceivedFromPeer();
    if (!m_socket)
        return;
    const State previous = m_state.load();
    const bool closing = previous == State::Disconnecting || !m_disconnectPromises.empty();
    reset();
    setState(State::Disconnected);
    const KafkaError error = connectionClosedError();
    const bool delivered = failWaitingRequests(error);
    finishDisconnectPromises();
    // A broker may close an idle connection; before Ready a close is a failure.
    if (!delivered && !closing && previous < State::Ready)
        emit connectionError(error);
}

void KafkaConnection::onStateChanged(QAbstractSocket::SocketState socketState)
{
    // A socket that is closed before it connected emits no `disconnected`.
    if (socketState == QAbstractSocket::UnconnectedState && !m_disconnectPromises.empty())
        onSocketDisconnected();
}

void KafkaConnection::onDisconnectRequested(std::shared_ptr<QPromise<void>> promise)
{
    m_disconnectPromises.push_back(std::move(promise));
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        // A graceful close; `disconnected` completes it, at once when nothing
        // is left to write.
        m_socket->disconnectFromHost();
        if (m_disconnectPromises.empty())
            return;
        if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState) {
            // Unwritten data may wait for a peer that reads nothing.
            m_closeDeadline = QDeadlineTimer(m_limits.close);
            scheduleDeadline();
            return;
        }
    }
    // Still looking up or connecting, or no socket: nothing to wait for.
    closeAtOnce();
}

void KafkaConnection::closeAtOnce()
{
    abortSocket();
    reset();
    setState(State::Disconnected);
    failWaitingRequests(connectionClosedError());
    finishDisconnectPromises();
}

KafkaError KafkaConnection::connectionClosedError() const
{
    return KafkaError(KafkaErrorCode::ConnectionClosed,
        QStringLiteral("The connection to the kafka broker %1:%2 was closed").arg(m_host, QString::number(m_port)));
}

bool KafkaConnection::failWaitingRequests(const KafkaError& error)
{
    std::deque<QueuedRequest> queue;
    queue.swap(m_requestQueue);
    bool delivered = failInFlightRequests(error);
    for (const QueuedRequest& request : queue) {
        if (!request.context->guards(this))
            delivered = postError(request.context, request.callback, error) || delivered;
    }
    return delivered;
}

bool KafkaConnection::failInFlightRequests(const KafkaError& error)
{
    std::vector<InFlightRequest> inFlight;
    inFlight.swap(m_inFlightRequests);
    requestsChanged();
    // The connection's own requests (ApiVersions, SASL) end with it.
    bool delivered = false;
    for (const InFlightRequest& request : inFlight) {
        if (!request.context->guards(this))
            delivered = postError(request.context, request.callback, error) || delivered;
    }
    return delivered;
}

bool KafkaConnection::postError(const std::shared_ptr<KafkaContextGuard>& context, const Callback& callback,
    const KafkaError& error)
{
    return context->post([callback, error]() { callback(KafkaResult<KafkaRawResponse>(error)); });
}

void KafkaConnection::reset()
{
    ++m_attempt;
    closeSocket();
    m_frameSizeRead = false;
    m_frameSize = 0;
    m_receiveBuffer = KafkaBuffer();
    m_setUpDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    m_closeDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    scheduleDeadline();
    m_brokerApiVersions.clear();
    m_saslStep = 0;
    saslAuthenticationClearState();
}

void KafkaConnection::closeSocket()
{
    if (!m_socket)
        return;
    // The socket may be in the middle of emitting the signal that brought us
    // here, so it is only released now and deleted by its event loop (or with
    // the connection, its parent from now on).
    m_socket->disconnect(this);
    QTcpSocket* socket = m_socket.release();
    socket->setParent(this);
    socket->deleteLater();
}

void KafkaConnection::abortSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket.reset();
}

void KafkaConnection::finishDisconnectPromises()
{
    std::vector<std::shared_ptr<QPromise<void>>> promises;
    promises.swap(m_disconnectPromises);
    for (const std::shared_ptr<QPromise<void>>& promise : promises)
        promise->finish();
}

void KafkaConnection::requestsChanged()
{
    m_inFlightCount.store(static_cast<int>(m_inFlightRequests.size()));
    m_queuedCount.store(static_cast<int>(m_requestQueue.size()));
    scheduleDeadline();
}

// --- TLS settings -----------------------------------------------------------

namespace {

KafkaError invalidTlsSetting(const QString& message)
{
    return KafkaError(KafkaErrorCode::InvalidValue, message);
}

// A client certificate or key file ("certificate", "key") that could not be
// read.
KafkaError unreadableClientFile(const char* what, const QString& path, const CertificateFile::Failure& failure)
{
    if (failure.kind != RegularFile::Failure::Kind::Open)
        return invalidTlsSetting(
            QStringLiteral("Unable to read the client SSL %1 file '%2': %3").arg(QLatin1String(what), path, failure.reason));
    if (!QFileInfo::exists(path))
        return invalidTlsSetting(QStringLiteral("The client SSL %1 file does not exist").arg(QLatin1String(what)));
    return invalidTlsSetting(QStringLiteral("Unable to open the client SSL %1 file").arg(QLatin1String(what)));
}

} // namespace

KafkaResult<QSslConfiguration> KafkaConnection::makeSslConfiguration(const Config::Ssl& ssl)
{
    QSslConfiguration configuration;
    configuration.setPeerVerifyMode(ssl.serverCertificateValidation == Config::SslCertificateValidation::None
            ? QSslSocket::VerifyNone
            : QSslSocket::VerifyPeer);

    for (const QString& storedPath : ssl.serverCaCertificatePaths) {
        const QString path = resolveClusterPath(storedPath);
        const QString unreadable = QStringLiteral("Unable to read PEM encoded CA certificates from '%1'").arg(path);
        const Result<QByteArray, CertificateFile::Failure> content = CertificateFile::read(path);
        if (content.isError() && content.error().kind != RegularFile::Failure::Kind::Open)
            return invalidTlsSetting(QStringLiteral("%1: %2").arg(unreadable, content.error().reason));
        const QList<QSslCertificate> certificates
            = content.isError() ? QList<QSslCertificate>() : QSslCertificate::fromData(content.value(), QSsl::Pem);
        if (certificates.isEmpty())
            return invalidTlsSetting(unreadable);
        configuration.addCaCertificates(certificates);
    }

    if (ssl.clientCertificatePath.isEmpty() || ssl.clientKeyPath.isEmpty())
        return configuration;

    const QString certificatePath = resolveClusterPath(ssl.clientCertificatePath);
    const Result<QByteArray, CertificateFile::Failure> certificateContent = CertificateFile::read(certificatePath);
    if (certificateContent.isError())
        return unreadableClientFile("certificate", certificatePath, certificateContent.error());
    const QSslCertificate certificate(certificateContent.value(), QSsl::Pem);
    if (certificate.isNull())
        return invalidTlsSetting(QStringLiteral("Unable to load the client SSL certificate. Make sure it is PEM encoded."));

    const QString keyPath = resolveClusterPath(ssl.clientKeyPath);
    const Result<QByteArray, CertificateFile::Failure> keyContent = CertificateFile::read(keyPath);
    if (keyContent.isError())
        return unreadableClientFile("key", keyPath, keyContent.error());
    const QByteArray passphrase = ssl.clientKeyPassphrase.toUtf8();
    QSslKey key(keyContent.value(), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey, passphrase);
    if (key.isNull())
        key = QSslKey(keyContent.value(), QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, passphrase);
    if (key.isNull())
        return invalidTlsSetting(QStringLiteral("Unable to load the client SSL key. Make sure it is PEM encoded and that "
                                                "the passphrase (if required) is correct."));

    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    return configuration;
}
