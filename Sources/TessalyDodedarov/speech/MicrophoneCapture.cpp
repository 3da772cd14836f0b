#include "speech/MicrophoneCapture.h"

#include "platform/AudioConverter.h"
#include "platform/PulseRecorder.h"
#include "speech/SystemAudioTap.h"

#include <cmath>

namespace {

// The buffer size a microphone tap asks for, in frames of the device's own rate.
constexpr qsizetype kTapFrames = 4096;

} // namespace

MicrophoneCapture::MicrophoneCapture() = default;

MicrophoneCapture::~MicrophoneCapture()
{
    stop();
}

std::optional<MicrophoneCapture::CaptureError> MicrophoneCapture::start()
{
    stop();

    auto recorder = std::make_unique<PulseRecorder>(PulseRecorder::Device::defaultInput,
                                                    QStringLiteral("com.tessalab.dodedarov.microphone"));
    if (std::optional<PulseRecorder::Failure> failure = recorder->open()) {
        if (failure->step == PulseRecorder::Step::findDevice)
            return CaptureError{QStringLiteral("找不到可用的麦克风。")};
        return CaptureError{QStringLiteral("无法启动麦克风：") + failure->description};
    }

    const PulseRecorder::DeviceInfo &device = recorder->device();
    if (!(device.sampleRate > 0) || device.channels < 1)
        return CaptureError{QStringLiteral("找不到可用的麦克风。")};

    // The server resamples to the capture rate; only the first channel is used.
    const AudioFormat &format = SystemAudioTap::outputFormat();
    m_converter = AudioConverter::create(format.sampleRate, device.channels,
                                         AudioConverter::ChannelMix::firstChannel, format);
    if (!m_converter)
        return CaptureError{QStringLiteral("无法转换麦克风的音频格式。")};

    AudioConverter *converter = m_converter.get();
    auto deliver = [converter, handler = onBuffer](const float *interleaved, qsizetype frames) {
        PcmBuffer buffer = converter->convert(interleaved, frames);
        if (buffer.frameLength() > 0 && handler)
            handler(buffer);
    };
    // Runs on the capture thread, so it keeps its own copy of the owner's closure.
    auto changed = [handler = onDeviceChanged] {
        if (handler)
            handler();
    };

    // As much audio per buffer as the tap size gives at the device's own rate.
    const auto fragment = qsizetype(std::lround(kTapFrames * format.sampleRate / device.sampleRate));
    if (std::optional<PulseRecorder::Failure> failure = recorder->record(
            format.sampleRate, fragment, std::move(deliver), std::move(changed))) {
        m_converter.reset();
        return CaptureError{QStringLiteral("无法启动麦克风：") + failure->description};
    }
    m_recorder = std::move(recorder);
    return std::nullopt;
}

void MicrophoneCapture::stop()
{
    m_recorder.reset();
    m_converter.reset();
}

void MicrophoneCapture::ensurePermission(const std::function<void(bool)> &completion)
{
    PulseRecorder probe(PulseRecorder::Device::defaultInput,
                        QStringLiteral("com.tessalab.dodedarov.microphone"));
    const bool granted = !probe.open().has_value();
    probe.close();
    if (completion)
        completion(granted);
}
