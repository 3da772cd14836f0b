#include "speech/SpeechClassifier.h"

#include <utility>

std::unique_ptr<SpeechClassifier> SpeechClassifier::create(const AudioFormat &format)
{
    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(format);
    if (!analyzer)
        return nullptr;
    std::unique_ptr<SpeechClassifier> classifier(new SpeechClassifier(std::move(analyzer)));
    // One-second windows, each starting half a window after the previous one.
    if (!classifier->m_analyzer->addRequest(1.0, 0.5, classifier.get()))
        return nullptr;
    return classifier;
}

SpeechClassifier::SpeechClassifier(std::unique_ptr<SoundAnalyzer> analyzer)
    : m_analyzer(std::move(analyzer))
{
}

SpeechClassifier::~SpeechClassifier()
{
    m_analyzer->removeAllRequests();
}

void SpeechClassifier::resultProduced(const SoundAnalyzer::Classification &result)
{
    if (result.speechConfidence > 0.5 && onSpeech)
        onSpeech();
}
