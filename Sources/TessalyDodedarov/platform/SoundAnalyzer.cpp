#include "platform/SoundAnalyzer.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 16000;
constexpr int kFrame = 160;                 // 10 ms: the voice detector's frame
constexpr double kFramesPerSecond = 100.0;
constexpr int kFft = 256;                   // the frame, windowed and zero-padded
constexpr int kHalf = kFft / 2;
constexpr int kFirstBin = 2;                // 125 Hz ...
constexpr int kLastBin = 64;                // ... 4 kHz: where speech carries its energy
constexpr float kSilentDB = -70.0f;         // quieter frames are not analysed at all

// log2 to about 0.01, enough for a flatness measure and far cheaper than std::log2.
float fastLog2(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const float exponent = float(int((bits >> 23) & 0xff) - 127);
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float mantissa;
    std::memcpy(&mantissa, &bits, sizeof mantissa);
    // Quadratic fit of log2 on [1, 2).
    return exponent + (-0.34484843f * mantissa + 2.02466578f) * mantissa - 0.67487759f;
}

float clamp01(double x)
{
    return float(std::clamp(x, 0.0, 1.0));
}

// Power spectrum of one 10 ms frame through a 128-point complex FFT of the packed real input.
// Plain float arithmetic: std::complex multiplication checks for infinities on every product.
class Spectrum final {
public:
    Spectrum()
    {
        for (int n = 0; n < kFrame; ++n)
            m_window[n] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (kFrame - 1)));
        for (int k = 0; k < kHalf; ++k) {
            m_cos[k] = float(std::cos(2 * std::numbers::pi * k / kFft));
            m_sin[k] = float(-std::sin(2 * std::numbers::pi * k / kFft));
        }
        for (int i = 0; i < kHalf; ++i) {
            int reversed = 0;
            for (int bit = 1, r = kHalf >> 1; bit < kHalf; bit <<= 1, r >>= 1) {
                if (i & bit)
                    reversed |= r;
            }
            m_reverse[i] = reversed;
        }
    }

    // Spectral flatness (geometric over arithmetic mean of the power) in the speech band.
    float flatness(const float *frame)
    {
        // Even samples as the real part, odd ones as the imaginary part, in bit-reversed order.
        for (int n = 0; n < kHalf; ++n) {
            const bool inFrame = n < kFrame / 2;
            m_re[m_reverse[n]] = inFrame ? frame[2 * n] * m_window[2 * n] : 0.0f;
            m_im[m_reverse[n]] = inFrame ? frame[2 * n + 1] * m_window[2 * n + 1] : 0.0f;
        }
        for (int size = 2; size <= kHalf; size <<= 1) {
            const int half = size / 2;
            const int step = kFft / size;  // twiddles of the full-length transform
            for (int start = 0; start < kHalf; start += size) {
                for (int j = 0; j < half; ++j) {
                    const int a = start + j;
                    const int b = a + half;
                    const float wr = m_cos[j * step];
                    const float wi = m_sin[j * step];
                    const float tr = m_re[b] * wr - m_im[b] * wi;
                    const float ti = m_re[b] * wi + m_im[b] * wr;
                    m_re[b] = m_re[a] - tr;
                    m_im[b] = m_im[a] - ti;
                    m_re[a] += tr;
                    m_im[a] += ti;
                }
            }
        }
        float logSum = 0;
        float sum = 0;
        for (int k = kFirstBin; k <= kLastBin; ++k) {
            // Bin k of the real transform from bins k and N/2 − k of the half-length one:
            // X = E + W·O with E = (Z[k] + conj Z[N/2−k]) / 2, O = −i (Z[k] − conj Z[N/2−k]) / 2.
            const int m = (kHalf - k) % kHalf;
            const float er = 0.5f * (m_re[k] + m_re[m]);
            const float ei = 0.5f * (m_im[k] - m_im[m]);
            const float or_ = 0.5f * (m_im[k] + m_im[m]);
            const float oi = -0.5f * (m_re[k] - m_re[m]);
            const float xr = er + m_cos[k] * or_ - m_sin[k] * oi;
            const float xi = ei + m_cos[k] * oi + m_sin[k] * or_;
            const float power = xr * xr + xi * xi + 1e-12f;
            logSum += fastLog2(power);
            sum += power;
        }
        const float bins = float(kLastBin - kFirstBin + 1);
        return std::exp2(logSum / bins) / (sum / bins);
    }

private:
    std::array<float, kFrame> m_window{};
    std::array<float, kHalf> m_cos{};
    std::array<float, kHalf> m_sin{};  // minus the sine: the forward transform's twiddles
    std::array<int, kHalf> m_reverse{};
    std::array<float, kHalf> m_re{};
    std::array<float, kHalf> m_im{};
};

struct Frame {
    float energyDB = -120.0f;
    float flatness = 1.0f;
    bool voiced = false;
};

struct Request {
    int windowFrames;
    int hopFrames;
    SoundAnalyzer::Observer *observer;
    std::vector<float> cosTable;  // cos(2πm/W), for the envelope's modulation spectrum
    std::vector<float> sinTable;
};

} // namespace

struct SoundAnalyzer::Private {
    std::unique_ptr<webrtc::AudioProcessing> detector;
    webrtc::AudioFrame detectorFrame;
    Spectrum spectrum;
    std::vector<Request> requests;

    std::vector<Frame> history;  // ring of the newest frames, as long as the longest window
    qint64 frames = 0;           // frames analysed since the last fresh start
    qint64 origin = 0;           // frame position where that start was
    qint64 expected = -1;        // the position that continues the stream
    std::array<float, kFrame> pending{};
    int pendingCount = 0;
    std::vector<float> envelope;  // scratch for one window

    void restart(qint64 position)
    {
        frames = 0;
        origin = position;
        pendingCount = 0;
    }

    void analyzeFrame(const float *samples)
    {
        Frame frame;
        float sum = 0;
        for (int i = 0; i < kFrame; ++i)
            sum += samples[i] * samples[i];
        const float mean = sum / kFrame;
        frame.energyDB = mean > 0 ? 10.0f * std::log10(mean) : -120.0f;
        // Silence is neither voice nor anything else: skip the costly part.
        if (frame.energyDB > kSilentDB) {
            detectorFrame.sample_rate_hz_ = kRate;
            detectorFrame.num_channels_ = 1;
            detectorFrame.samples_per_channel_ = kFrame;
            for (int i = 0; i < kFrame; ++i)
                detectorFrame.data_[i] = std::int16_t(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
            if (detector->ProcessStream(&detectorFrame) == webrtc::AudioProcessing::kNoError)
                frame.voiced = detector->voice_detection()->stream_has_voice();
            frame.flatness = spectrum.flatness(samples);
        }
        history[size_t(frames % qint64(history.size()))] = frame;
        ++frames;

        for (const Request &request : requests) {
            if (frames >= request.windowFrames && (frames - request.windowFrames) % request.hopFrames == 0)
                emitWindow(request);
        }
    }

    const Frame &at(qint64 index) const { return history[size_t(index % qint64(history.size()))]; }

    // How sure we are that the newest window holds speech. Speech is voiced to the detector,
    // its energy rises and falls with the syllables (2–8 Hz, deep), and its spectrum moves
    // between harmonic and noisy sounds. Tones and chords have flat envelopes and no noise;
    // noise is flat in level and spectrum; music rarely has all three. Each cue is scored 0 ... 1
    // and the weakest one decides.
    void emitWindow(const Request &request)
    {
        const int w = request.windowFrames;
        const qint64 first = frames - w;

        float loudest = -120.0f;
        int voiced = 0;
        for (int i = 0; i < w; ++i) {
            const Frame &frame = at(first + i);
            loudest = std::max(loudest, frame.energyDB);
            voiced += frame.voiced ? 1 : 0;
        }

        double confidence = 0;
        if (loudest > kSilentDB) {
            // Energy envelope with the pauses floored, so digital silence does not dominate.
            const float floor = std::max(loudest - 40.0f, kSilentDB - 10.0f);
            envelope.resize(size_t(w));
            double mean = 0;
            for (int i = 0; i < w; ++i) {
                envelope[size_t(i)] = std::max(at(first + i).energyDB, floor);
                mean += envelope[size_t(i)];
            }
            mean /= w;
            double variance = 0;
            for (float &e : envelope) {
                e -= float(mean);
                variance += double(e) * e;
            }
            const double spread = std::sqrt(variance / w);

            // Share of the envelope's modulation that lies at syllable rates.
            double band = 0;
            double total = 0;
            for (int k = 1; k < (w + 1) / 2; ++k) {
                float re = 0;
                float im = 0;
                // m = k·i mod w, stepped rather than divided.
                for (int i = 0, m = 0; i < w; ++i, m = m + k < w ? m + k : m + k - w) {
                    const float e = envelope[size_t(i)];
                    re += e * request.cosTable[size_t(m)];
                    im -= e * request.sinTable[size_t(m)];
                }
                const double power = double(re) * re + double(im) * im;
                total += power;
                const double hz = k * kFramesPerSecond / w;
                if (hz >= 2.0 && hz <= 8.0)
                    band += power;
            }
            const double modulation = total > 0 ? band / total : 0;

            // Flatness over the frames that carry the sound.
            double flatSum = 0;
            double flatSquares = 0;
            int active = 0;
            for (int i = 0; i < w; ++i) {
                const Frame &frame = at(first + i);
                if (frame.energyDB > kSilentDB && frame.energyDB > loudest - 30.0f) {
                    flatSum += frame.flatness;
                    flatSquares += double(frame.flatness) * frame.flatness;
                    ++active;
                }
            }
            const double flatMean = active ? flatSum / active : 1.0;
            const double flatSpread =
                active ? std::sqrt(std::max(0.0, flatSquares / active - flatMean * flatMean)) : 0.0;

            const double voicedShare = double(voiced) / w;
            confidence = std::min({
                clamp01((voicedShare - 0.3) / 0.3),  // the detector hears voice
                clamp01((spread - 3.0) / 3.0),       // the level moves by several dB
                clamp01((modulation - 0.15) / 0.15), // ... at syllable rates
                clamp01((0.35 - flatMean) / 0.1),    // not noise
                clamp01((flatSpread - 0.03) / 0.04), // harmonic and noisy sounds alternate
            });
        }

        Classification result;
        result.windowStart = origin + first * kFrame;
        result.windowLength = qint64(w) * kFrame;
        result.speechConfidence = confidence;
        if (request.observer)
            request.observer->resultProduced(result);
    }
};

std::unique_ptr<SoundAnalyzer> SoundAnalyzer::create(const AudioFormat &format)
{
    if (format.sampleRate != kRate || format.channels != 1)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->detector.reset(webrtc::AudioProcessing::Create());
    if (!d->detector)
        return nullptr;
    if (d->detector->voice_detection()->Enable(true) != webrtc::AudioProcessing::kNoError)
        return nullptr;
    d->history.resize(1);
    return std::unique_ptr<SoundAnalyzer>(new SoundAnalyzer(std::move(d)));
}

SoundAnalyzer::SoundAnalyzer(std::unique_ptr<Private> p)
    : d(std::move(p))
{
}

SoundAnalyzer::~SoundAnalyzer() = default;

bool SoundAnalyzer::addRequest(double windowDuration, double overlapFactor, Observer *observer)
{
    if (!observer || !(windowDuration >= 0.1 && windowDuration <= 10.0)
        || !(overlapFactor >= 0.0 && overlapFactor <= 0.9)) {
        return false;
    }
    Request request;
    request.windowFrames = int(std::lround(windowDuration * kFramesPerSecond));
    request.hopFrames = std::max(1, int(std::lround(request.windowFrames * (1.0 - overlapFactor))));
    request.observer = observer;
    request.cosTable.resize(size_t(request.windowFrames));
    request.sinTable.resize(size_t(request.windowFrames));
    for (int m = 0; m < request.windowFrames; ++m) {
        const double angle = 2 * std::numbers::pi * m / request.windowFrames;
        request.cosTable[size_t(m)] = float(std::cos(angle));
        request.sinTable[size_t(m)] = float(std::sin(angle));
    }
    d->requests.push_back(std::move(request));

    // A longer window needs a longer history; what was kept so far no longer lines up.
    size_t longest = 1;
    for (const Request &r : d->requests)
        longest = std::max(longest, size_t(r.windowFrames));
    if (longest != d->history.size()) {
        d->history.assign(longest, Frame{});
        d->expected = -1;
    }
    return true;
}

void SoundAnalyzer::removeAllRequests()
{
    d->requests.clear();
}

void SoundAnalyzer::analyze(const PcmBuffer &buffer, qint64 framePosition)
{
    const float *samples = buffer.floatChannelData(0);
    const qsizetype count = buffer.frameLength();
    if (!samples || buffer.format().sampleRate != kRate || buffer.format().channels != 1)
        return;
    if (framePosition != d->expected)
        d->restart(framePosition);
    d->expected = framePosition + count;

    qsizetype used = 0;
    if (d->pendingCount > 0) {
        const qsizetype take = std::min<qsizetype>(kFrame - d->pendingCount, count);
        std::memcpy(d->pending.data() + d->pendingCount, samples, size_t(take) * sizeof(float));
        d->pendingCount += int(take);
        used = take;
        if (d->pendingCount < kFrame)
            return;
        d->analyzeFrame(d->pending.data());
        d->pendingCount = 0;
    }
    for (; used + kFrame <= count; used += kFrame)
        d->analyzeFrame(samples + used);
    const qsizetype rest = count - used;
    std::memcpy(d->pending.data(), samples + used, size_t(rest) * sizeof(float));
    d->pendingCount = int(rest);
}
