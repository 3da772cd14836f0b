#include "platform/SoundAnalyzer.h"

struct SoundAnalyzer::Private {
};

std::unique_ptr<SoundAnalyzer> SoundAnalyzer::create(const AudioFormat &)
{
    return nullptr;
}

SoundAnalyzer::SoundAnalyzer(std::unique_ptr<Private> p)
    : d(std::move(p))
{
}

SoundAnalyzer::~SoundAnalyzer() = default;

bool SoundAnalyzer::addRequest(double, double, Observer *)
{
    return false;
}

void SoundAnalyzer::removeAllRequests()
{
}

void SoundAnalyzer::analyze(const PcmBuffer &, qint64)
{
}
