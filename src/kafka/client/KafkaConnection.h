#pragma once

#include "Config.h"
#include "Error.h"
#include "KafkaBuffer.h"
#include "KafkaContextGuard.h"
#include "KafkaProtocolError.h"
#include "KafkaRawResponse.h"
#include "KafkaRequest.h"
#include "Result.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QPromise>
#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QTcpSocket;

// One connection to one Kafka broker. It owns a TCP or TLS socket, asks the
// broker which API versions it speaks, authenticates with SASL when the
// cluster asks for it, holds back the requests that cannot be sent yet, sends
// each request with the highest version both sides speak and hands every
// response to its caller's callback on the caller's thread.
//
// Threads: the connection, its socket and its deadline timer live on one
// thread (the cluster client's network thread, which serves every connection
// of the cluster); `send`, `disconnectFromHost`, `nextCorrelationId`, `state`
// and the request counts may be called from any thread. Nothing is retried: a
// failed or closed connection is Disconnected and opens again only when
// `connectToHost` is called again.
//
// Limits, so that no broker, firewall or proxy can hold a caller or the
// network thread for ever, nor make the connection buffer what it claims:
// - the set-up (TCP connection, TLS handshake, ApiVersions, SASL) must finish
//   within Limits::setUp of `connectToHost`;
// - a written request must be answered within Limits::answer beyond the wait
//   it asks the broker for (a Fetch's max wait); as a broker answers in
//   order, it is never due before the request written ahead of it;
// - a graceful close that has not finished within Limits::close is cut off
//   (the waiting requests fail as closed);
// - a response frame must answer a waiting request and be no larger than
//   that request's maxResponseSize: both are checked on its first 8 bytes,
//   before anything of it is buffered;
// - a SCRAM iteration count above KafkaSaslScramProof::MaxIterationCount is
//   refused, not computed.
// A missed set-up or answer limit fails the connection with code 6, naming
// the broker and what it waited for; a frame that breaks the rules fails it
// with code 63 (no such request) or 71 (too large), and an answer in TLS on a
// plain-text connection (a TLS listener) with code 14. DefaultLimits holds the
// limits of every real connection; tests choose shorter ones.
//
// Every request given to `send` gets exactly one callback unless its context
// object is destroyed first or the connection itself is destroyed: the
// response, or the failure of that request, or the failure of the connection
// (requests queued or already written when the connection fails or closes
// all fail with the connection's error, code 31 for a closed connection).
// `connectionError` is emitted only for a failure that no waiting request
// received.
//
// Destroy a connection on its own thread and never from a slot directly
// connected to its signals (use deleteLater).
class KafkaConnection : public QObject {
    Q_OBJECT

public:
    enum class State : std::int32_t {
        Idle = 0,
        Connecting = 1,
        Initializing = 2,
        Authenticating = 3,
        Ready = 4,
        Disconnecting = 5,
        Disconnected = 6,
    };
    Q_ENUM(State)

    using Callback = std::function<void(KafkaResult<KafkaRawResponse>)>;

    // Time limits of a connection (see the class comment).
    static constexpr std::chrono::milliseconds SetUpTimeLimit { 30'000 };
    static constexpr std::chrono::milliseconds AnswerTimeLimit { 30'000 };
    static constexpr std::chrono::milliseconds CloseTimeLimit { 5'000 };
    struct Limits {
        std::chrono::milliseconds setUp;
        std::chrono::milliseconds answer;
        std::chrono::milliseconds close;
    };
    static constexpr Limits DefaultLimits { SetUpTimeLimit, AnswerTimeLimit, CloseTimeLimit };

    // A request waiting for the connection to become Ready. Copying shares the
    // request.
    struct QueuedRequest {
        std::shared_ptr<KafkaRequest> request;
        std::shared_ptr<KafkaContextGuard> context;
        Callback callback;
    };

    // A request written to the socket and not yet answered.
    struct InFlightRequest {
        std::int16_t apiKey = 0;
        std::int16_t apiVersion = 0; // the version sent
        std::int32_t correlationId = 0;
        std::shared_ptr<KafkaContextGuard> context;
        Callback callback;
        // The request's maxResponseSize.
        std::int64_t maxResponseSize = 0;
        // When the answer is due, and how long it was given.
        QDeadlineTimer deadline;
        std::chrono::milliseconds timeLimit { 0 };
    };

    // `cluster` must outlive the connection. Nothing is opened until
    // `connectToHost`.
    KafkaConnection(QString host, int port, QString clientId, const Config::Cluster& cluster,
        Limits limits = DefaultLimits);
    ~KafkaConnection() override;

    KafkaConnection(const KafkaConnection&) = delete;
    KafkaConnection& operator=(const KafkaConnection&) = delete;

    // Any thread. The request must carry a correlation id from
    // nextCorrelationId(). `callback` (callable with a
    // KafkaResult<KafkaRawResponse>) runs once on the thread of `context`; it
    // is never called once `context` is destroyed, nor for a null context.
    template <typename Function>
    void send(std::unique_ptr<KafkaRequest> request, QObject* context, Function&& callback)
    {
        QueuedRequest queued { std::shared_ptr<KafkaRequest>(std::move(request)), KafkaContextGuard::create(context),
            Callback(std::forward<Function>(callback)) };
        QMetaObject::invokeMethod(
            this, [this, queued = std::move(queued)]() { onSendRequest(queued); }, Qt::QueuedConnection);
    }

    // Any thread: the next correlation id (post-increment, never reset).
    std::int32_t nextCorrelationId();

    // Any thread: the state becomes Disconnecting at once; the socket is closed
    // on the connection's thread. The future finishes once the socket is closed
    // (also when there is none, and when the connection is destroyed first).
    // Every call has a future of its own.
    QFuture<void> disconnectFromHost();

    // Any thread.
    State state() const { return m_state.load(); }
    // Any thread: requests written and not yet answered, and requests waiting
    // for the Ready state.
    int inFlightRequestCount() const { return m_inFlightCount.load(); }
    int queuedRequestCount() const { return m_queuedCount.load(); }

    const QString& host() const { return m_host; }
    int port() const { return m_port; }

    // The TLS settings of a cluster as a socket configuration, or code 54 when
    // a certificate or key cannot be read. The files are read at once, within
    // CertificateFile's limit; a FIFO, device or directory is refused.
    static KafkaResult<QSslConfiguration> makeSslConfiguration(const Config::Ssl& ssl);
    // -1 gives 61, n in 1..99 gives 61 + n, anything else the fallback.
    static KafkaErrorCode mapProtocolError(KafkaProtocolError error, KafkaErrorCode fallback);
    // A SCRAM client nonce of printable ASCII characters without a comma.
    static QString generateSaslScramNonce(int length);

public slots:
    // Connection's thread (post it queued from elsewhere). Opens the socket
    // and starts the ApiVersions and SASL exchanges. Does nothing while a
    // connection is under way or Ready.
    void connectToHost();

signals:
    void connectionReady();
    void connectionError(KafkaError connectionError);

private slots:
    void dataReceivedFromPeer();
    void onSocketDisconnected();
    void onStateChanged(QAbstractSocket::SocketState socketState);
    void onErrorOccurred(QAbstractSocket::SocketError socketError);
    void onConnectionEstablished();
    void onDeadlineReached();

private:
    void onDisconnectRequested(std::shared_ptr<QPromise<void>> promise);
    // Closes the socket at once, fails what is waiting as closed and finishes
    // the disconnection futures.
    void closeAtOnce();
    void setState(State state);
    // Moves to `state` unless a disconnection was requested meanwhile.
    void advanceState(State state);

    void wireSocket();
    void onSendRequest(QueuedRequest queued);
    void failRequest(const QueuedRequest& queued, const KafkaError& error);
    // Drops the socket, fails every waiting request with `error` and emits
    // connectionError when none was waiting. The state becomes Disconnected.
    void onConnectionError(KafkaError error);
    void onConnectionInitialized();
    void onConnectionReady();
    void onApiVersionsResponse(KafkaResult<KafkaRawResponse> result);
    // Fails the waiting requests of the user with `error`; true when there
    // was at least one. The connection's own requests are dropped.
    bool failWaitingRequests(const KafkaError& error);
    bool failInFlightRequests(const KafkaError& error);
    static bool postError(const std::shared_ptr<KafkaContextGuard>& context, const Callback& callback,
        const KafkaError& error);
    void reset();
    // Releases the socket for deletion by its event loop (it may be emitting).
    void closeSocket();
    // Closes the socket at once; only outside the socket's own signals.
    void abortSocket();
    void finishDisconnectPromises();
    // Publishes the request counts and arms the deadline timer for the
    // earliest deadline; after every change of the queue or the in-flight
    // list.
    void requestsChanged();
    void scheduleDeadline();
    KafkaError connectionClosedError() const;
    KafkaError setUpTimeoutError() const;
    KafkaError answerTimeoutError(const InFlightRequest& request) const;
    // Checks the size and correlation id of the frame about to be received.
    std::optional<KafkaError> checkFrameHeader(std::int32_t correlationId) const;
    // Checks that the first 4 bytes of an answer on a plain-text connection
    // are not a TLS record: a TLS listener answers plain text with an alert.
    std::optional<KafkaError> checkPlainTextAnswer(const char* start) const;

    // Makes room in the buffer of the frame being received for `needed`
    // bytes, which have arrived.
    void reserveReceiveBuffer(std::int64_t needed);

    void saslAuthenticationClearState();
    void doSaslAuthentication(KafkaResult<KafkaRawResponse>* response);
    void saslHandshakeAnswered(KafkaResult<KafkaRawResponse>& response);
    void saslPlainAnswered(KafkaResult<KafkaRawResponse>& response);
    void saslScramFirstAnswered(KafkaResult<KafkaRawResponse>& response);
    void saslScramFinalAnswered(KafkaResult<KafkaRawResponse>& response);
    void sendSaslRequest(std::unique_ptr<KafkaRequest> request);

    QString m_host;
    std::int32_t m_port = 0;
    QString m_clientId;
    const Config::Cluster& m_cluster;
    const Limits m_limits;
    std::atomic<State> m_state { State::Idle };
    std::unique_ptr<QTcpSocket> m_socket;
    std::atomic<std::int32_t> m_correlationIdCounter { 0 };
    QHash<std::int16_t, QPair<std::int16_t, std::int16_t>> m_brokerApiVersions;
    std::int32_t m_saslStep = 0;
    QString m_saslNonce;
    QByteArray m_saslClientFirstMessageBare;
    QByteArray m_saslServerFirstMessage;
    QByteArray m_saslExpectedServerSignature;
    bool m_frameSizeRead = false;
    std::int32_t m_frameSize = 0;
    KafkaBuffer m_receiveBuffer;
    std::deque<QueuedRequest> m_requestQueue;
    std::vector<InFlightRequest> m_inFlightRequests;
    std::vector<std::shared_ptr<QPromise<void>>> m_disconnectPromises;
    std::atomic<int> m_inFlightCount { 0 };
    std::atomic<int> m_queuedCount { 0 };
    // Due while the connection is set up, and while it closes gracefully.
    QDeadlineTimer m_setUpDeadline { QDeadlineTimer::Forever };
    QDeadlineTimer m_closeDeadline { QDeadlineTimer::Forever };
    // Fires at the earliest deadline; a child, so it follows moveToThread.
    QTimer m_deadlineTimer { this };
    // Counts connection attempts, so that answers to the connection's own
    // requests of an earlier attempt are ignored.
    std::uint64_t m_attempt = 0;
};
