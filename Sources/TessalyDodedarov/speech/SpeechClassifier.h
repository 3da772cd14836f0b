#pragma once

#include "platform/SoundAnalyzer.h"

#include <functional>
#include <memory>

// Confirms that the captured audio holds speech, so that a voice gate kept open by music or
// noise can be closed. It observes a sound analyser that classifies 1.0 s windows (half
// overlapping) and calls onSpeech for every window whose speech confidence is above 0.5.
// Owned by the engine while it runs; the owner feeds the analyser on its queue:
//     classifier->analyzer().analyze(buffer, classifier->framePosition);
//     classifier->framePosition += buffer.frameLength();
class SpeechClassifier final : public SoundAnalyzer::Observer {
public:
    // Nothing when the platform cannot classify audio in this format.
    static std::unique_ptr<SpeechClassifier> create(const AudioFormat &format);
    ~SpeechClassifier() override;

    // Called on the thread that feeds the analyser; the owner's closure hops to its queue.
    std::function<void()> onSpeech;
    qint64 framePosition = 0;  // frames analysed so far

    SoundAnalyzer &analyzer() { return *m_analyzer; }

    void resultProduced(const SoundAnalyzer::Classification &result) override;

private:
    explicit SpeechClassifier(std::unique_ptr<SoundAnalyzer> analyzer);

    std::unique_ptr<SoundAnalyzer> m_analyzer;
};
