#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

CaptionLine line(int id, const QString &english, const QString &chinese)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = true;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 40, id % 60));
    return l;
}

QString value(const Diagnostics::Pairs &pairs, const QString &label)
{
    for (const auto &[key, text] : pairs)
        if (key == label)
            return text;
    return QStringLiteral("<none>");
}

} // namespace

// The diagnostics of a meeting through the model: the snapshot's rows, the files in "诊断", the
// status line, the analysis request and revealing the folder.
class AppModelDiagnosticsTest final : public QObject {
    Q_OBJECT

private slots:
    void snapshotRows()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        SessionStats stats;
        stats.requests = 12;
        stats.promptTokens = 3400;
        stats.cachedTokens = 1200;
        stats.completionTokens = 560;
        stats.numberRechecks = 2;
        stats.sentenceMerges = 3;
        model.setStatsForTest(stats);
        model.log(QStringLiteral("research_reply"));
        model.log(QStringLiteral("quick_reply"));
        AppModel::DiagnosticsSnapshot snapshot = model.diagnosticsSnapshot();
        QCOMPARE(value(snapshot.stats, QStringLiteral("翻译请求")),
                 QStringLiteral("12 次，输入 3400 token（缓存命中 1200），输出 560 token"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("识别计费")), QStringLiteral("0 秒"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("数字核对重译")), QStringLiteral("2 句"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("半句合成整句")), QStringLiteral("3 次"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("定时研究")), QStringLiteral("1 次"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("即时研究")), QStringLiteral("1 次，查了 0 个词"));
        QCOMPARE(value(snapshot.stats, QStringLiteral("出字的句数")), QStringLiteral("<none>"));
        QCOMPARE(snapshot.stats.size(), 6);
        stats.latencies = {1.0, 2.0};
        model.setStatsForTest(stats);
        snapshot = model.diagnosticsSnapshot();
        QCOMPARE(value(snapshot.stats, QStringLiteral("出字的句数")), QStringLiteral("2"));

        QCOMPARE(value(snapshot.settings, QStringLiteral("边听边研究")), QStringLiteral("开"));
        QCOMPARE(value(snapshot.settings, QStringLiteral("联网搜索")), QStringLiteral("开"));
        QCOMPARE(value(snapshot.settings, QStringLiteral("繁体")), QStringLiteral("否"));
        QCOMPARE(value(snapshot.settings, QStringLiteral("声音来源")), QStringLiteral("system"));
        model.setResearchWebSearch(false);
        QCOMPARE(value(model.diagnosticsSnapshot().settings, QStringLiteral("联网搜索")), QStringLiteral("关"));
    }

    void rejectedSearchRow()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-diag"));
        rig.deepSeek.enqueue(FakeDeepSeekServer::error(422));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("{}")}));
        AppModel &model = rig.make();
        model.setRunningState(true);
        QList<CaptionLine> lines;
        for (int i = 0; i < 130; ++i)
            lines.append(line(i, QStringLiteral("word"), QStringLiteral("词")));
        rig.setLines(lines);
        rig.now += 150;
        model.maybeResearch();
        QTRY_COMPARE_WITH_TIMEOUT(value(model.diagnosticsSnapshot().settings, QStringLiteral("联网搜索")),
                                  QStringLiteral("开（接口拒绝，已改不联网）"), 20000);
    }

    void analysisPrompt()
    {
        // The text as the product's analyst prompt reads, with the platform named as Linux.
        const QString expected = QStringLiteral(
            "你是一个 Linux 实时字幕翻译软件（系统声音 → ElevenLabs 语音识别 → 断句 → DeepSeek 翻译成中文；会中有“边听边研究”、近音纠正，会后有校对）的质量分析员。\n"
            "下面是一场会议的自查报告（软件按规则挑出的可疑点、研究和纠正的记录、性能），以及会议记录的节选。\n"
            "先了解这些情况，免得误判：\n"
            "- 原文一行是逐字识别结果，口吃、重复（in, in, in）、说了一半的词是故意保留的；翻译时模型会把它们理顺。只有译文受影响时才算问题。\n"
            "- “—— 换人 ——”来自说话人识别。访谈、问答里提问和回答交替是正常的；只有前后内容明显是同一个人在继续说时才算误判，拿不准就不要列。\n"
            "- 讲者本人的名字常常只出现在网页简介里，原文里没说出来是正常的。\n"
            "- 翻译请求数包括：一句话分几次接续翻译、半句合成整句重译、研究、查词、判断网页、会后校对，比段数多是正常的。\n"
            "- 软件已有：删口头禅、近音纠正、研究后回改字幕并重译、数字核对重译、半句合成整句、去掉重复片段、会后校对。建议要具体到这些机制哪里不够，或者缺什么。\n"
            "请找出这一场最主要的 3～6 个问题，按影响大小排序。每个问题写：\n"
            "- 现象（附 1～2 个例子，带时间）；\n"
            "- 出在哪一环：识别 / 断句 / 换人判断 / 翻译 / 研究与纠正 / 校对 / 性能；\n"
            "- 可能的原因；\n"
            "- 具体的改进建议（改规则、改提示词、调参数、加检查），写给开发者看。\n"
            "只根据材料说话，拿不准就说明。最后用一句话总结这场的整体质量。用中文，Markdown 列表。");
        QCOMPARE(AppModel::analysisPrompt(), expected);
    }

    void switchedOffOrEmpty()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        const QString file = QDir(rig.recordsFolder()).filePath(QStringLiteral("会议 2026-05-04 0930.txt"));
        model.writeDiagnostics(file, model.diagnosticsSnapshot(), {}, std::nullopt, std::nullopt, {});
        model.setDiagnosticsEnabled(false);
        model.writeDiagnostics(file, model.diagnosticsSnapshot(), {line(0, QStringLiteral("Hi"), QStringLiteral("嗨"))},
                               std::nullopt, std::nullopt, {});
        QVERIFY(!QDir(rig.recordsFolder()).exists(QStringLiteral("诊断")));
        QCOMPARE(model.diagnosticsStatus(), std::nullopt);
    }

    void reportWithAnalysis()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-diag"));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("- 问题一"), QStringLiteral("：识别")}));
        QString revealed;
        rig.platform.revealFile = [&](const QString &path) { revealed = path; };
        AppModel &model = rig.make();
        const QString folder = QDir(rig.recordsFolder()).filePath(QStringLiteral("诊断"));
        model.revealDiagnostics();
        QCOMPARE(revealed, folder);
        QVERIFY(QDir(folder).exists());

        // A record longer than 20,000 characters goes into the request cut.
        QList<CaptionLine> lines;
        for (int i = 0; i < 400; ++i)
            lines.append(line(i, QStringLiteral("Sentence number %1 of the talk.").arg(i), QStringLiteral("第 %1 句。").arg(i)));
        rig.setLines(lines);
        const AppModel::DiagnosticsSnapshot snapshot = model.diagnosticsSnapshot();
        const QString record = model.meetingRecordText();
        QVERIFY(record.size() > 20000);
        const QString file = QDir(rig.recordsFolder()).filePath(QStringLiteral("会议 2026-05-04 0930.txt"));
        // The files are built and written off the main thread; each status arrives as it is reached.
        QStringList statuses;
        QObject::connect(&model, &AppModel::diagnosticsStatusChanged, &model,
                         [&] { statuses.append(model.diagnosticsStatus().value_or(QString())); });
        model.writeDiagnostics(file, snapshot, lines, std::nullopt, std::nullopt, {});
        // Nothing of the report is built on the caller's (main) thread: the call returns first.
        QVERIFY(statuses.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(statuses.size() >= 2, 20000);
        QVERIFY(statuses.first().startsWith(QStringLiteral("已生成诊断报告“会议 2026-05-04 0930 诊断.md”（")));
        QVERIFY(statuses.first().endsWith(QStringLiteral(" 个可疑点），正在请 DeepSeek 分析…")));
        QVERIFY(statuses.last().endsWith(QStringLiteral("，含 DeepSeek 自动分析）")));
        for (const QString &name : {QStringLiteral("会议 2026-05-04 0930 事件.jsonl"), QStringLiteral("会议 2026-05-04 0930 诊断.json"),
                                    QStringLiteral("汇总.md"), QStringLiteral("会议 2026-05-04 0930 诊断.md")})
            QVERIFY2(QFile::exists(QDir(folder).filePath(name)), qPrintable(name));
        QFile overview(QDir(folder).filePath(QStringLiteral("汇总.md")));
        QVERIFY(overview.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(overview.readAll()).contains(QStringLiteral("会议 2026-05-04 0930")));
        QFile report(QDir(folder).filePath(QStringLiteral("会议 2026-05-04 0930 诊断.md")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(report.readAll()).contains(QStringLiteral("- 问题一：识别")));

        const FakeDeepSeekServer::Request request = rig.deepSeek.requests().first();
        QCOMPARE(request.contents().first(), AppModel::analysisPrompt());
        const QString user = request.contents().last();
        QVERIFY(user.startsWith(QStringLiteral("【自查报告】\n")));
        const qsizetype at = user.indexOf(QStringLiteral("\n\n【会议记录节选】\n"));
        QVERIFY(at > 0);
        QCOMPARE(user.mid(at + 11), record.left(20000));
        QVERIFY(!user.contains(QStringLiteral("sk-diag")));

        model.revealDiagnostics();
        QCOMPARE(revealed, QDir(folder).filePath(QStringLiteral("汇总.md")));
    }

    void reportWriteFails()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QVERIFY(QDir().mkpath(rig.recordsFolder()));
        // A file where the folder should be: nothing can be written into it.
        QFile blocker(QDir(rig.recordsFolder()).filePath(QStringLiteral("诊断")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QList<CaptionLine> lines{line(0, QStringLiteral("Hello."), QStringLiteral("你好。"))};
        rig.setLines(lines);
        model.writeDiagnostics(QDir(rig.recordsFolder()).filePath(QStringLiteral("会议.txt")), model.diagnosticsSnapshot(),
                               lines, std::nullopt, std::nullopt, {});
        QTRY_COMPARE_WITH_TIMEOUT(model.diagnosticsStatus(), std::optional<QString>(QStringLiteral("诊断报告保存失败")),
                                  20000);
    }
};

DODEDAROV_TEST(AppModelDiagnosticsTest)
#include "AppModelDiagnosticsTest.moc"
