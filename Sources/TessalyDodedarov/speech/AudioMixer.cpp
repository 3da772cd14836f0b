#include "speech/AudioMixer.h"

#include <algorithm>

QList<float> AudioMixer::push(const QList<float> &samples, Input from)
{
    QList<float> &mine = from == Input::system ? system : microphone;
    mine.append(samples);

    QList<float> result;
    const qsizetype n = std::min(system.size(), microphone.size());
    if (n > 0) {
        result.resize(n);
        const float *a = system.constData();
        const float *b = microphone.constData();
        float *out = result.data();
        for (qsizetype i = 0; i < n; ++i)
            out[i] = std::clamp(a[i] + b[i], -1.0f, 1.0f);
        system.remove(0, n);
        microphone.remove(0, n);
    }

    // At most one queue still holds samples now.
    for (QList<float> *queue : {&system, &microphone}) {
        if (queue->size() > maxWait) {
            result.append(*queue);
            queue->clear();
        }
    }
    return result;
}
