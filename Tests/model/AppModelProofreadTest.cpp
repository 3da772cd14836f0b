#include "TestMain.h"

#include "fakes/ManualDeepSeekServer.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "translation/DeepSeekTransport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

CaptionLine textLine(int id, const QString &english, const QString &chinese = {}, bool finished = true)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = finished;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 40, id % 60));
    return l;
}

// `count` finished lines of one word each.
QList<CaptionLine> oneWordLines(int count)
{
    QList<CaptionLine> lines;
    for (int i = 0; i < count; ++i)
        lines.append(textLine(i, QStringLiteral("word%1").arg(i), QStringLiteral("词")));
    return lines;
}

QString readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

const QString noFixes = QStringLiteral(R"({"fixes":[]})");

// A meeting open without the engine, proofreading against a server the test answers, the
// settle poll shortened.
struct ProofRig {
    ModelRig rig;
    ManualDeepSeekServer server;
    AppModel *model = nullptr;

    // `settlePolls`: how many times the end of the meeting checks that the last lines have
    // settled before it goes on without them.
    explicit ProofRig(int settlePolls = AppModel::Timings().settlePolls)
    {
        if (!server.listen())
            qFatal("cannot listen on loopback");
        DeepSeekTransport::baseAddress = server.baseUrl();
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-proofread"));
        rig.platform.timings.settlePollInterval = 0.02;
        rig.platform.timings.settlePolls = settlePolls;
        model = &rig.make();
        model->setDiagnosticsEnabled(false);
        model->setOpenRecordsAfterMeeting(false);
        rig.beginMeeting();
    }
    QString record() const { return *model->transcript().fileURL(); }
    QString copyOf(const QString &record) const
    {
        const QFileInfo info(record);
        return info.dir().filePath(info.completeBaseName() + QStringLiteral(" 校对版.txt"));
    }
    bool finished() const
    {
        return model->proofreadStatus() && !model->proofreadStatus()->startsWith(QStringLiteral("正在"));
    }
};

constexpr int timeout = 15000;

} // namespace

// Proofreading the record of an ended meeting: the wait for the last translations, the local
// name fixes, the chunks sent one by one, failures, and the proofread copy.
class AppModelProofreadTest final : public QObject {
    Q_OBJECT

private slots:
    void wordThreshold_data()
    {
        QTest::addColumn<int>("words");
        QTest::newRow("29 words") << 29;
        QTest::newRow("30 words") << 30;
    }
    void wordThreshold()
    {
        QFETCH(int, words);
        ProofRig p;
        p.rig.setLines(oneWordLines(words));
        p.model->endMeeting();
        if (words >= 30) {
            QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
            QCOMPARE(p.model->proofreadStatus(),
                     std::optional<QString>(QStringLiteral("正在会后校对“") + QFileInfo(p.record()).completeBaseName()
                                            + QStringLiteral("”（0/1）…")));
            p.server.reply(0, {noFixes});
            QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
            // A run without a change still writes its copy and says 0.
            QVERIFY(p.model->proofreadStatus()->startsWith(QStringLiteral("会后校对完成：改了 0 段，存为“")));
            const QString copy = readFile(p.copyOf(p.record()));
            QVERIFY(copy.contains(QStringLiteral("（会后校对版：DeepSeek 改了 0 段的识别或翻译错误")));
        } else {
            // The record is saved synchronously once the meeting settled; nothing is asked.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(p.record()), timeout);
            QTest::qWait(100);
            QCOMPARE(p.server.count(), 0);
            QCOMPARE(p.model->proofreadStatus(), std::nullopt);
        }
    }

    void localAndModelFixes()
    {
        ProofRig p;
        p.rig.platform.isDictionaryWord = [](const QString &word) { return word != QLatin1String("Tarwick"); };
        SessionNote note;
        note.id = 1;
        note.text = QStringLiteral("Tarvick");
        note.extracted.names = {QStringLiteral("Tarvick")};
        p.model->setNotes({note});
        QList<CaptionLine> lines{
            textLine(0, QStringLiteral("Tarwick opened the meeting with a short overview of the plan."),
                     QStringLiteral("Tarwick 简要介绍了计划。")),
            textLine(1, QStringLiteral("We expect the first shipments to arrive in the spring next year."),
                     QStringLiteral("我们预计第一批货明年秋天到。")),
            textLine(2, QStringLiteral("Tarwick will follow up with the numbers after this call ends."),
                     QStringLiteral("塔维克会在会后跟进数字。")),
        };
        p.rig.setLines(lines);
        p.model->endMeeting();
        QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
        // The request carries the locally fixed names and the meeting's notes.
        const QString user = p.server.at(0).lastUser();
        QVERIFY2(user.contains(QStringLiteral("Tarvick opened")), qPrintable(user));
        QVERIFY(!user.contains(QStringLiteral("Tarwick")));
        p.server.reply(0, {QStringLiteral(
                              R"({"fixes":[{"i":1,"tr":"我们预计第一批货明年春天到。","why":"spring 是春天"},)"
                              R"({"i":2,"tr":"Tarvick 会在会后跟进数字。","why":"人名"}]})")});
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
        const QString copyPath = p.copyOf(p.record());
        QCOMPARE(*p.model->proofreadStatus(), QStringLiteral("会后校对完成：改了 3 段，存为“")
                                                  + QFileInfo(copyPath).fileName() + QStringLiteral("”"));
        const QString copy = readFile(copyPath);
        QVERIFY(copy.contains(QStringLiteral("改了 3 段的识别或翻译错误")));
        QVERIFY(copy.contains(QStringLiteral("原始记录是“") + QFileInfo(p.record()).fileName() + QStringLiteral("”")));
        // A local fix the model left alone is noted with its reason.
        QVERIFY(copy.contains(QStringLiteral("和本场已知的名字只差一两个字母")));
        QVERIFY(copy.contains(QStringLiteral("我们预计第一批货明年春天到。")));
        QVERIFY(copy.contains(QStringLiteral("spring 是春天")));
        // The model's fix of line 2's translation keeps the local fix of its source.
        QVERIFY(copy.contains(QStringLiteral("Tarvick will follow up")));
        QVERIFY(copy.contains(QStringLiteral("原文：Tarwick → Tarvick")));
        // The record itself is unchanged.
        QVERIFY(readFile(p.record()).contains(QStringLiteral("Tarwick opened")));
    }

    void failures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("suffix");
        // Three chunks; the second fails.
        QTest::newRow("server error") << 500 << 3 << QStringLiteral("（DeepSeek 返回错误（HTTP 500）。）");
        QTest::newRow("fatal") << 401 << 2 << QStringLiteral("（DeepSeek 密钥无效，请在设置里重新填写。）");
        QTest::newRow("dropped") << 0 << 3 << QStringLiteral("（有的段落连接失败，没校对上。）");
    }
    void failures()
    {
        QFETCH(int, status);
        QFETCH(int, requests);
        QFETCH(QString, suffix);
        ProofRig p;
        p.server.onRequest = [&](int i) {
            if (i != 1)
                p.server.reply(i, {noFixes});
            else if (status)
                p.server.fail(i, status);
            else
                p.server.drop(i);
        };
        p.rig.setLines(oneWordLines(150));
        p.model->endMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
        QCOMPARE(p.server.count(), requests);
        QVERIFY2(p.model->proofreadStatus()->endsWith(suffix), qPrintable(*p.model->proofreadStatus()));
        QVERIFY(QFile::exists(p.copyOf(p.record())));
    }

    void waitsForStreamingLine()
    {
        ProofRig p;
        QList<CaptionLine> lines = oneWordLines(40);
        lines[39].finished = false;
        p.rig.setLines(lines);
        p.model->endMeeting();
        // Still waiting: a line with text is not finished.
        QTRY_VERIFY_WITH_TIMEOUT(!p.model->meetingActive(), timeout);
        QTest::qWait(100);
        QCOMPARE(p.server.count(), 0);
        lines[39].finished = true;
        lines[39].chinese = QStringLiteral("最后一句");
        p.rig.setLines(lines);
        QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
        p.server.reply(0, {noFixes});
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
        QVERIFY(readFile(p.copyOf(p.record())).contains(QStringLiteral("最后一句")));
    }

    void giveUpWaitingAfterPolls()
    {
        ProofRig p(3);
        QList<CaptionLine> lines = oneWordLines(40);
        lines[39].finished = false;
        p.rig.setLines(lines);
        p.model->endMeeting();
        QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
        // The unfinished line is not proofread.
        QVERIFY(!p.server.at(0).lastUser().contains(QStringLiteral("word39")));
    }

    // A new meeting begun during the wait lends the ended meeting nothing of its own.
    void newMeetingDuringWait()
    {
        ProofRig p;
        ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(p.rig.scribe.expectedKey));
        SessionNote note;
        note.id = 1;
        note.text = QStringLiteral("Old meeting notes");
        note.extracted.names = {QStringLiteral("Quillon")};
        p.model->setNotes({note});
        ResearchResult research;
        research.domain = QStringLiteral("orbital mechanics");
        research.names = {QStringLiteral("Oberth")};
        p.model->setResearch(research);
        p.model->setRecap(QStringLiteral("旧会议的前情提要"));
        QList<CaptionLine> lines = oneWordLines(40);
        lines[39] = textLine(39, QStringLiteral("still translating"), QStringLiteral("还在翻"), false);
        p.rig.setLines(lines);
        const QString oldRecord = p.record();

        // One more meeting begins at once (the second of the model); beginning is going active.
        int begun = 0;
        QObject::connect(p.model, &AppModel::meetingActiveChanged, p.model, [&] { begun += p.model->meetingActive() ? 1 : 0; });
        p.model->newMeeting();
        QCOMPARE(begun, 1);
        QVERIFY(p.model->transcript().fileURL() != oldRecord);
        // The new meeting finds its own subject while the old one waits for its lines to settle.
        ResearchResult newResearch;
        newResearch.domain = QStringLiteral("marine biology");
        newResearch.names = {QStringLiteral("Cousteau")};
        p.model->setResearch(newResearch);
        QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
        const QString request = p.server.at(0).lastUser() + p.server.at(0).system();
        QVERIFY2(request.contains(QStringLiteral("orbital mechanics")), qPrintable(request));
        QVERIFY2(!request.contains(QStringLiteral("marine biology")), qPrintable(request));
        QVERIFY(request.contains(QStringLiteral("Old meeting notes")));
        QVERIFY(request.contains(QStringLiteral("旧会议的前情提要")));
        // The line finalised when the new meeting began is proofread with the rest.
        QVERIFY(request.contains(QStringLiteral("still translating")));
        p.server.reply(0, {noFixes});
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
        const QString copy = readFile(p.copyOf(oldRecord));
        QVERIFY(copy.contains(QStringLiteral("还在翻")));
        QVERIFY(copy.contains(QFileInfo(oldRecord).fileName()));
        p.model->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!p.model->running(), 20000);
    }

    void longRecordNamesUnproofread()
    {
        ProofRig p;
        p.server.onRequest = [&](int i) { p.server.reply(i, {noFixes}); };
        p.rig.setLines(oneWordLines(2000));
        p.model->endMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), 60000);
        QCOMPARE(p.server.count(), 30);
        QVERIFY2(p.model->proofreadStatus()->endsWith(QStringLiteral("（记录太长，最后 200 段没有校对）")),
                 qPrintable(*p.model->proofreadStatus()));
    }

    void unwritableCopy()
    {
        ProofRig p;
        p.rig.setLines(oneWordLines(40));
        p.model->endMeeting();
        QTRY_COMPARE_WITH_TIMEOUT(p.server.count(), 1, timeout);
        // Something that is not a file stands where the copy goes.
        QVERIFY(QDir().mkpath(p.copyOf(p.record())));
        p.server.reply(0, {noFixes});
        QTRY_VERIFY_WITH_TIMEOUT(p.finished(), timeout);
        QCOMPARE(*p.model->proofreadStatus(), QStringLiteral("校对版保存失败，请检查“文档”文件夹的访问权限。"));
    }
};

DODEDAROV_TEST(AppModelProofreadTest)
#include "AppModelProofreadTest.moc"
