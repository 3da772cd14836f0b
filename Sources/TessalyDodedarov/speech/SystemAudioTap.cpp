#include "speech/SystemAudioTap.h"

#include "common/SerialQueue.h"
#include "platform/AudioConverter.h"
#include "platform/PulseRecorder.h"

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
    return TapError{QStringLiteral("连接声音服务"), -1};
}

void SystemAudioTap::stop()
{
    m_recorder.reset();
    m_converter.reset();
}
