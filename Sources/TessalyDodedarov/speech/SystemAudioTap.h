#pragma once

#include "platform/PcmBuffer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AudioConverter;
class PulseRecorder;
class SerialQueue;

// Captures the sound the computer plays (whatever application plays it) by recording the
// monitor of the default output, and delivers it as 16 kHz mono float buffers of about 100 ms
// each. Buffers arrive on the capture's own "com.tessalab.dodedarov.audio-io" thread; a change
// of the default output is reported on the owner's queue so the owner can restart capture on
// the new device.
// Owned by the engine, which starts and stops it on its queue.
class SystemAudioTap final {
public:
    // Which step of starting failed and the sound server's error code (-1 when there is none).
    struct TapError {
        QString step;
        qint32 status = -1;
        QString localizedDescription() const;
    };

    explicit SystemAudioTap(SerialQueue *queue);
    ~SystemAudioTap();

    SystemAudioTap(const SystemAudioTap &) = delete;
    SystemAudioTap &operator=(const SystemAudioTap &) = delete;

    // The one capture format shared by every capture path, the mixer and the classifier:
    // 32-bit float, 16,000 Hz, one channel, not interleaved.
    static const AudioFormat &outputFormat();

    // Set by the owner before start(); start() keeps the onBuffer it finds then. onBuffer runs
    // on the audio-io thread and must only hand the buffer on; onOutputDeviceChanged runs on
    // the owner's queue.
    std::function<void(const PcmBuffer &)> onBuffer;
    std::function<void()> onOutputDeviceChanged;

    // Starts from nothing (a running capture is stopped first). Empty on success.
    [[nodiscard]] std::optional<TapError> start();
    // Safe at any time; the callbacks are left as they are.
    void stop();

private:
    SerialQueue *m_queue;
    std::unique_ptr<PulseRecorder> m_recorder;
    std::unique_ptr<AudioConverter> m_converter;
    // One per capture run: a device notice still queued for the owner when its run has been
    // stopped (or the tap destroyed) finds its token expired and is dropped.
    std::shared_ptr<int> m_run = std::make_shared<int>(0);
};
