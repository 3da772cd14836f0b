#pragma once

#include "speech/SpeechClient.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>

class QTimer;
class QWebSocket;
class SerialQueue;

// One WebSocket connection to the realtime speech-to-text service. The engine creates one
// when it has voice to send and drops it when it ends; the client never reconnects by itself
// and reports the end of its connection at most once. It lives on the engine's queue: every
// socket callback and every event runs there.
class ScribeClient final : public QObject, public SpeechClient {
    Q_OBJECT
public:
    using EventHandler = std::function<void(SpeechClient *client, const SpeechEvent &event)>;

    // Connecting starts at once; there is no separate connect call.
    ScribeClient(const QString &apiKey, bool diarize, bool englishOnly, const QStringList &keyterms,
                 SerialQueue &queue, EventHandler onEvent);
    ~ScribeClient() override;

    void send(const QByteArray &pcm) override;
    void close() override;
    bool finished() const { return m_finished; }

    // The address of the realtime service (scheme and host); tests point it at a loopback fake.
    static inline QUrl baseAddress = QUrl(QStringLiteral("wss://api.elevenlabs.io"));
    // How long the opening handshake may take before the connection counts as failed.
    static inline int handshakeTimeoutMs = 15000;
    static constexpr int maxKeyterms = 50;

    static QUrl endpoint(bool diarize, bool englishOnly, const QStringList &keyterms);
    // The one audio message: the bytes as Base64, never committing, always 16 kHz.
    static QByteArray audioMessage(const QByteArray &pcm);
    // The HTTP status of a refused upgrade, read from the socket's error text (the only
    // place this Qt version reports it).
    static std::optional<int> refusedStatus(const QString &errorText);

private:
    void handleMessage(const QString &text);
    void handleSocketError();
    void fail(const SpeechEvent &event);

    const EventHandler m_onEvent;
    QWebSocket *m_task = nullptr;
    QTimer *m_handshakeTimer = nullptr;
    bool m_finished = false;
    bool m_open = false;
    // Audio handed over while the handshake is still running; sent the moment it completes,
    // dropped when it fails. The engine itself waits for `opened` before it sends.
    QStringList m_outbox;
};
