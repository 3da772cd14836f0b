#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One record stream on the sound server (PulseAudio, or PipeWire through pipewire-pulse),
// running on its own named thread. It records either the monitor of the default output (the
// sound the computer plays) or the default input, as interleaved floats with the device's
// channels at the rate asked for, and watches for the default device to change or go away.
// Opening and recording are separate so the caller can check the device's format in between.
class PulseRecorder final {
public:
    enum class Device { defaultOutputMonitor, defaultInput };
    enum class Step { connect, findDevice, createStream, startStream };

    struct Failure {
        Step step = Step::connect;
        int status = 0;       // the server's error code; 0 when there is none
        QString description;  // the server's text for it
    };

    struct DeviceInfo {
        QString name;         // the device recorded (a monitor source for the output)
        QString defaultName;  // the default sink or source it was found through
        double sampleRate = 0;
        int channels = 0;
    };

    // Both run on the recorder's thread with the server lock held: they must only hand data
    // on, never call back into this recorder.
    using DataHandler = std::function<void(const float *interleaved, qsizetype frames)>;
    using ChangeHandler = std::function<void()>;

    PulseRecorder(Device device, const QString &threadName);
    ~PulseRecorder();

    PulseRecorder(const PulseRecorder &) = delete;
    PulseRecorder &operator=(const PulseRecorder &) = delete;

    // Connects to the server and finds the device. On success device() describes it.
    [[nodiscard]] std::optional<Failure> open();
    const DeviceInfo &device() const;

    // Starts recording the opened device at `sampleRate` (the server resamples) with the
    // device's own channels, delivering about `fragmentFrames` frames per call. `changed` is
    // called once when the default device changes or the stream or the server goes away; it
    // is optional.
    [[nodiscard]] std::optional<Failure> record(double sampleRate, qsizetype fragmentFrames,
                                                DataHandler data, ChangeHandler changed);

    // Ends the stream and the connection and joins the thread; no handler runs afterwards.
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
