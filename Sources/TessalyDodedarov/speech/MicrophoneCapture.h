#pragma once

#include "platform/PcmBuffer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AudioConverter;
class PulseRecorder;

// Captures the default audio input and delivers its first channel as 16 kHz mono float
// buffers in SystemAudioTap::outputFormat(). Buffers and device-change notices arrive on the
// capture's own sound-server thread; the owner's closures hop to its queue themselves.
// Owned by the engine, which starts and stops it on its queue.
class MicrophoneCapture final {
public:
    struct CaptureError {
        QString message;
        QString localizedDescription() const { return message; }
    };

    MicrophoneCapture();
    ~MicrophoneCapture();

    MicrophoneCapture(const MicrophoneCapture &) = delete;
    MicrophoneCapture &operator=(const MicrophoneCapture &) = delete;

    // Set by the owner before start(); start() keeps the closures it finds then. Neither may
    // call stop() directly (they run on the capture thread): hop to the owner's queue first.
    std::function<void(const PcmBuffer &)> onBuffer;
    std::function<void()> onDeviceChanged;  // default input switched, or the input went away

    // Starts from nothing (a running capture is stopped first). Empty on success.
    [[nodiscard]] std::optional<CaptureError> start();
    // Safe at any time; the callbacks are left as they are.
    void stop();

    // Whether the microphone may be used. The desktop has no per-application prompt, so the
    // answer comes at once, on the caller's thread: true when the sound server has a default
    // input.
    static void ensurePermission(const std::function<void(bool)> &completion);

private:
    std::unique_ptr<PulseRecorder> m_recorder;
    std::unique_ptr<AudioConverter> m_converter;
};
