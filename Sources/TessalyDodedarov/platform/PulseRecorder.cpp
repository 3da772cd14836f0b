#include "platform/PulseRecorder.h"

struct PulseRecorder::Private {
    Device device;
    QString threadName;
    DeviceInfo info;
};

PulseRecorder::PulseRecorder(Device device, const QString &threadName)
    : d(std::make_unique<Private>(Private{device, threadName, {}}))
{
}

PulseRecorder::~PulseRecorder()
{
    close();
}

std::optional<PulseRecorder::Failure> PulseRecorder::open()
{
    return Failure{Step::connect, 0, QStringLiteral("not implemented")};
}

const PulseRecorder::DeviceInfo &PulseRecorder::device() const
{
    return d->info;
}

std::optional<PulseRecorder::Failure> PulseRecorder::record(qsizetype, DataHandler, ChangeHandler)
{
    return Failure{Step::createStream, 0, QStringLiteral("not implemented")};
}

void PulseRecorder::close()
{
}
