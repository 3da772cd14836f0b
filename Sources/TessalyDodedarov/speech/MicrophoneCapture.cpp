#include "speech/MicrophoneCapture.h"

#include "platform/AudioConverter.h"
#include "platform/PulseRecorder.h"

MicrophoneCapture::MicrophoneCapture() = default;

MicrophoneCapture::~MicrophoneCapture()
{
    stop();
}

std::optional<MicrophoneCapture::CaptureError> MicrophoneCapture::start()
{
    stop();
    return CaptureError{QStringLiteral("找不到可用的麦克风。")};
}

void MicrophoneCapture::stop()
{
    m_recorder.reset();
    m_converter.reset();
}

void MicrophoneCapture::ensurePermission(const std::function<void(bool)> &completion)
{
    if (completion)
        completion(true);
}
