#include "TestMain.h"

#include "intelligence/NameFix.h"
#include "platform/SpellChecker.h"

#include <QSignalSpy>
#include <QThreadPool>

class SpellCheckerTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_checker = std::make_unique<SpellChecker>();
        QSignalSpy loaded(m_checker.get(), &SpellChecker::loaded);
        m_checker->load();
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.first().first().toBool(), true);
        QVERIFY(m_checker->isLoaded());
    }

    void englishWords_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("expected");
        QTest::newRow("data") << "data" << true;
        QTest::newRow("watchman") << "watchman" << true;
        QTest::newRow("capitalised dictionary word") << "Watchman" << true;
        QTest::newRow("all capitals") << "HRS" << true;
        QTest::newRow("Veltamide") << "Veltamide" << false;
        QTest::newRow("Tarwick") << "Tarwick" << false;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("curly apostrophe, in UTF-8") << "don’t" << true;
        QTest::newRow("emoji") << "😀" << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << false;
        QTest::newRow("very long") << QString(10000, u'a') << false;
    }

    void englishWords()
    {
        QFETCH(QString, word);
        QFETCH(bool, expected);
        QCOMPARE(m_checker->isWord(word), expected);
    }

    void correctsAgainstTheRealDictionary()
    {
        const NameFix::WordTest isWord = [this](const QString &word) { return m_checker->isWord(word); };
        const NameFix::Result result = NameFix::correct(
            QStringLiteral("Tarwick reviewed the watchman data"), {QStringLiteral("Tarvick"), QStringLiteral("Watchmen")},
            isWord);
        QCOMPARE(result.text, QStringLiteral("Tarvick reviewed the watchman data"));
    }

    void everyWordCountsUntilLoaded()
    {
        SpellChecker checker;
        QVERIFY(!checker.isLoaded());
        QVERIFY(checker.isWord(QStringLiteral("Veltamide")));
        QSignalSpy loaded(&checker, &SpellChecker::loaded);
        checker.load();
        // Asked before the worker is done, the answer is still the default.
        QVERIFY(loaded.isEmpty() ? checker.isWord(QStringLiteral("Veltamide")) : true);
        QVERIFY(loaded.wait(30000));
        QVERIFY(!checker.isWord(QStringLiteral("Veltamide")));
    }

    void missingDictionaryAcceptsEveryWord()
    {
        SpellChecker checker;
        QSignalSpy loaded(&checker, &SpellChecker::loaded);
        checker.load(QStringLiteral("/nonexistent/en_US.aff"), QStringLiteral("/nonexistent/en_US.dic"));
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.first().first().toBool(), false);
        QVERIFY(!checker.isLoaded());
        QVERIFY(checker.isWord(QStringLiteral("Veltamide")));
        QVERIFY(checker.isWord(QStringLiteral("Tarwick")));
    }

    void destroyedWhileLoading()
    {
        auto checker = std::make_unique<SpellChecker>();
        int reports = 0;
        QObject listener;
        connect(checker.get(), &SpellChecker::loaded, &listener, [&reports] { ++reports; });
        checker->load();
        QVERIFY(!checker->isLoaded()); // still loading when it goes
        checker.reset();
        // The worker finishes on its own; nothing reaches the destroyed checker (the sanitizers
        // would report a touch of its memory) and no late report is heard.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(reports, 0);
    }

    void cleanupTestCase() { m_checker.reset(); }

private:
    std::unique_ptr<SpellChecker> m_checker;
};

DODEDAROV_TEST(SpellCheckerTest)
#include "SpellCheckerTest.moc"
