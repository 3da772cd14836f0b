#include "TestMain.h"

#include "fakes/TestSound.h"
#include "platform/SoundAnalyzer.h"

namespace {

const AudioFormat kFormat{16000, 1, false};

struct Collector final : SoundAnalyzer::Observer {
    QList<SoundAnalyzer::Classification> results;
    void resultProduced(const SoundAnalyzer::Classification &result) override { results.append(result); }
};

// Feeds samples in buffers of `size` frames, positions counting on from `start`.
void feed(SoundAnalyzer &analyzer, const QList<float> &samples, qsizetype size, qint64 start = 0)
{
    for (qsizetype i = 0; i < samples.size(); i += size)
        analyzer.analyze(PcmBuffer(kFormat, samples.mid(i, size)), start + i);
}

} // namespace

class SoundAnalyzerTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void refusesUnusableRequests_data();
    void refusesUnusableRequests();
    void windowsFollowThePositions();
    void bufferSizeDoesNotMatter_data();
    void bufferSizeDoesNotMatter();
    void gapStartsAfresh();
    void ignoresOtherFormats();

private:
    TestSound m_sound;
    QList<float> m_speech;
};

void SoundAnalyzerTest::initTestCase()
{
    QVERIFY(m_sound.isValid());
    m_speech = TestSound::samples(m_sound.speech(QStringLiteral(
        "Please ask questions at any time, and we will answer them at the end of the meeting.")));
    QVERIFY(m_speech.size() > 3 * 16000);
}

void SoundAnalyzerTest::refusesUnusableRequests_data()
{
    QTest::addColumn<double>("window");
    QTest::addColumn<double>("overlap");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("one second, half overlap") << 1.0 << 0.5 << true;
    QTest::newRow("no overlap") << 1.0 << 0.0 << true;
    QTest::newRow("window too short") << 0.05 << 0.5 << false;
    QTest::newRow("window too long") << 11.0 << 0.5 << false;
    QTest::newRow("negative overlap") << 1.0 << -0.1 << false;
    QTest::newRow("overlap of a whole window") << 1.0 << 1.0 << false;
    QTest::newRow("not a number") << std::nan("") << 0.5 << false;
}

void SoundAnalyzerTest::refusesUnusableRequests()
{
    QFETCH(double, window);
    QFETCH(double, overlap);
    QFETCH(bool, accepted);
    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(kFormat);
    QVERIFY(analyzer);
    Collector collector;
    QCOMPARE(analyzer->addRequest(window, overlap, &collector), accepted);
    QVERIFY(!analyzer->addRequest(1.0, 0.5, nullptr));
}

void SoundAnalyzerTest::windowsFollowThePositions()
{
    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(kFormat);
    Collector collector;
    QVERIFY(analyzer->addRequest(1.0, 0.5, &collector));
    // The stream may begin anywhere: windows are placed from where it began.
    feed(*analyzer, QList<float>(3 * 16000 + 100, 0.01f), 1000, 48000);
    QCOMPARE(collector.results.size(), 5);
    for (int i = 0; i < collector.results.size(); ++i) {
        QCOMPARE(collector.results[i].windowStart, 48000 + i * 8000);
        QCOMPARE(collector.results[i].windowLength, 16000);
    }

    analyzer->removeAllRequests();
    feed(*analyzer, QList<float>(32000, 0.01f), 1000, 48000 + 3 * 16000 + 100);
    QCOMPARE(collector.results.size(), 5);
}

void SoundAnalyzerTest::bufferSizeDoesNotMatter_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("one frame at a time") << qsizetype(1);
    QTest::newRow("odd sizes") << qsizetype(333);
    QTest::newRow("a microphone's 4096") << qsizetype(4096);
    QTest::newRow("all at once") << qsizetype(1 << 20);
}

void SoundAnalyzerTest::bufferSizeDoesNotMatter()
{
    QFETCH(qsizetype, size);
    std::unique_ptr<SoundAnalyzer> reference = SoundAnalyzer::create(kFormat);
    Collector expected;
    QVERIFY(reference->addRequest(1.0, 0.5, &expected));
    feed(*reference, m_speech, 160);

    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(kFormat);
    Collector collector;
    QVERIFY(analyzer->addRequest(1.0, 0.5, &collector));
    feed(*analyzer, m_speech, size);

    QCOMPARE(collector.results.size(), expected.results.size());
    for (int i = 0; i < collector.results.size(); ++i) {
        QCOMPARE(collector.results[i].windowStart, expected.results[i].windowStart);
        QCOMPARE(collector.results[i].speechConfidence, expected.results[i].speechConfidence);
    }
}

void SoundAnalyzerTest::gapStartsAfresh()
{
    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(kFormat);
    Collector collector;
    QVERIFY(analyzer->addRequest(1.0, 0.5, &collector));
    feed(*analyzer, QList<float>(12000, 0.01f), 1000, 0);
    // A jump in position: the 12,000 frames before it never join a window.
    feed(*analyzer, QList<float>(16000, 0.01f), 1000, 100000);
    QCOMPARE(collector.results.size(), 1);
    QCOMPARE(collector.results[0].windowStart, 100000);
}

void SoundAnalyzerTest::ignoresOtherFormats()
{
    QVERIFY(!SoundAnalyzer::create(AudioFormat{48000, 1, false}));
    std::unique_ptr<SoundAnalyzer> analyzer = SoundAnalyzer::create(kFormat);
    Collector collector;
    QVERIFY(analyzer->addRequest(1.0, 0.5, &collector));
    analyzer->analyze(PcmBuffer(AudioFormat{48000, 1, false}, QList<float>(48000, 0.1f)), 0);
    analyzer->analyze(PcmBuffer(), 0);
    QVERIFY(collector.results.isEmpty());
}

DODEDAROV_TEST(SoundAnalyzerTest)
#include "SoundAnalyzerTest.moc"
