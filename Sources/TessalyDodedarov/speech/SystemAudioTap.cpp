#include "speech/SystemAudioTap.h"

#include "common/SerialQueue.h"
#include "platform/AudioConverter.h"
#include "platform/PulseRecorder.h"

#include <QMetaObject>

#include <cmath>

namespace {

// What the sound server hands over at a time. The audio leaves in 100 ms chunks, so smaller
// pieces would only wake this thread and the engine's queue more often (each wake-up costs
// more than the work it brings); the engine still judges every 20 ms of it on its own.
constexpr double kFragmentSeconds = 0.1;

QString stepLabel(PulseRecorder::Step step)
{
    switch (step) {
    case PulseRecorder::Step::connect:
        return QStringLiteral("连接声音服务");
    case PulseRecorder::Step::findDevice:
        return QStringLiteral("查找输出设备");
    case PulseRecorder::Step::createStream:
        return QStringLiteral("创建录音流");
    case PulseRecorder::Step::startStream:
        return QStringLiteral("启动录音");
    }
    return QString();
}

} // namespace

QString SystemAudioTap::TapError::localizedDescription() const
{
    return QStringLiteral("无法采集系统音频（") + step + QStringLiteral("，错误码 ")
        + QString::number(status) + QStringLiteral("）");
}

SystemAudioTap::SystemAudioTap(SerialQueue *queue)
    : m_queue(queue)
{
}

SystemAudioTap::~SystemAudioTap()
{
    stop();
}

const AudioFormat &SystemAudioTap::outputFormat()
{
    static const AudioFormat format{16000.0, 1, false};
    return format;
}

std::optional<SystemAudioTap::TapError> SystemAudioTap::start()
{
    stop();

    auto recorder = std::make_unique<PulseRecorder>(PulseRecorder::Device::defaultOutputMonitor,
                                                    QStringLiteral("com.tessalab.dodedarov.audio-io"));
    if (std::optional<PulseRecorder::Failure> failure = recorder->open())
        return TapError{stepLabel(failure->step), failure->status};

    // The server resamples to the capture rate; what the computer plays is then folded into
    // one channel here, every channel counting equally.
    const PulseRecorder::DeviceInfo &device = recorder->device();
    m_converter = AudioConverter::create(outputFormat().sampleRate, device.channels,
                                         AudioConverter::ChannelMix::average, outputFormat());
    if (!m_converter)
        return TapError{QStringLiteral("创建格式转换器"), -1};

    // The capture thread only ever sees what it was given here.
    AudioConverter *converter = m_converter.get();
    auto deliver = [converter, handler = onBuffer](const float *interleaved, qsizetype frames) {
        PcmBuffer buffer = converter->convert(interleaved, frames);
        if (buffer.frameLength() > 0 && handler)
            handler(buffer);
    };
    // Device notices hop to the owner's queue, where start() and stop() run too.
    auto changed = [queue = m_queue, run = std::weak_ptr<int>(m_run), this] {
        if (!queue || !queue->context())
            return;
        QMetaObject::invokeMethod(
            queue->context(),
            [run, this] {
                if (run.lock() && onOutputDeviceChanged)
                    onOutputDeviceChanged();
            },
            Qt::QueuedConnection);
    };

    const auto fragment = qsizetype(std::lround(outputFormat().sampleRate * kFragmentSeconds));
    if (std::optional<PulseRecorder::Failure> failure = recorder->record(
            outputFormat().sampleRate, fragment, std::move(deliver), std::move(changed))) {
        m_converter.reset();
        return TapError{stepLabel(failure->step), failure->status};
    }
    m_recorder = std::move(recorder);
    return std::nullopt;
}

void SystemAudioTap::stop()
{
    // The recorder goes first: its thread uses the converter until it is joined.
    m_recorder.reset();
    m_converter.reset();
    m_run = std::make_shared<int>(0);
}
