// The request bodies, prompts and readers of the DeepSeek wire format. Expected prompt texts are
// written out here line by line as the system must send them, not taken from the code under test.
#include "TestMain.h"

#include "translation/DeepSeek.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QStringList toChineseLines{
    "你是同声传译字幕员，负责把外语口语（多数是英语，也可能是日语、韩语、法语、西班牙语等任何语言）实时译成简体中文字幕。",
    "规则：",
    "1. 只输出译文本身，不要解释，不要加引号，不要重复英文原文。",
    "2. 用自然、简洁的中文口语，意思完整通顺。",
    "3. 英文来自语音识别，可能有错词或缺标点，请结合上下文按最合理的意思翻译。",
    "4. 人名、地名、机构名：日本、韩国等用汉字的人名地名写汉字（Natsuko Hirano → 平野夏子）；有通行中文译名的知名人物、地名用通行译名；其他人名、产品名、缩写等拿不准的保留原文。同一个人前后写法一致（照上文的写法）。比较和否定的方向要和原文一致（It's far better to… → ……要好得多，不是“远不如”）。临床试验、研究、指南、项目的名称保留原文，不要按字面意译（SYNCHRONOUS trial → SYNCHRONOUS 研究，不是“同步试验”；CHIVA → CHIVA）；识别结果里这类名称可能是小写。",
    "5. 每条消息都是紧接上文的下一段话，可能只是半句；只翻译当前这一段，不要补全，也不要重复上文已经译过的内容。",
    "6. 只输出一行，不要换行（原文不是英语时按第 11 条输出两行）。",
    "7. 口语里的语气词、口头禅、重复和结巴（如 uh、um、you know、I, I, I、I w- I would）不要译出来，直接译成通顺的话。",
    "8. 如果这段话明显没说完，就按已有的内容自然地译，不要用省略号代替没说的部分。",
    "9. 如果消息里有标着【上文】或【本句参考】的部分，那只是帮助理解的背景和译法，不要翻译它，只翻译【请翻译这一段】。",
    "10. 数字、单位、百分比、年份、剂量必须和原文一个不差。",
    "11. 原文如果不是英语（比如日语、韩语、法语），输出两行：第一行是中文译文，第二行以“EN: ”开头，是同一段话的英文译文。原文是英语就只输出中文那一行。",
};
const QStringList traditionalRuleLines{
    "12. 中文译文一律用繁体中文（正体字）输出，不要用简体字。",
};
const QStringList toEnglishLines{
    "You are a simultaneous interpreter producing live English subtitles for spoken Chinese.",
    "The Chinese comes from speech recognition. It often turns words into similar-sounding wrong words, especially place names, personal names, institutions and technical terms, and more so when the speaker has an accent (e.g. 河北保定 recognized as 和贝宝定, 人工智能 as 人工只能). Use the context and common knowledge to work out what the speaker actually said: when a phrase is odd or makes no sense in context, replace it with the similar-sounding phrase that does.",
    "Output exactly two lines:",
    "Line 1: 校对：followed by the Chinese with the recognition errors fixed. Only fix misrecognized words; do not rephrase, add or drop anything. If nothing is wrong, repeat it unchanged.",
    "Line 2: the English translation of the corrected Chinese.",
    "Translation rules:",
    "1. Natural, concise spoken English that keeps the full meaning. No explanations, no quotes.",
    "2. Chinese personal names in pinyin (e.g. 孟凡 → Meng Fan); standard English names for places, institutions and technical terms.",
    "3. Each message continues the previous one and may be only half a sentence. Translate only the current message; do not complete it and do not repeat what was already translated.",
    "4. Drop fillers, repetitions and false starts (e.g. 那个、就是说、嗯).",
    "5. If the sentence is clearly unfinished, translate what is there naturally; no ellipses for the missing part.",
    "6. If the message has a part marked 【上文】 or 【本句参考】, it is background and term guidance only; correct and translate only the part marked 【请翻译这一段】.",
    "7. Any glossary or rules appended below in Chinese still apply: use the English side of each term pair, and the Chinese side when correcting.",
    "8. Numbers, units, percentages, years and doses must match the Chinese exactly.",
};
const QStringList englishLineLines{
    "You translate live speech captions into natural, concise English. The speech may be in any language and may be only part of a sentence. Output only the English translation of the part marked 【请译成英文】, on one line, with no explanations. The part marked 【上文】 is context only.",
};
const QStringList proofreadingLines{
    "你是中文语音识别的校对员。语音识别常把词识别成发音相近的错词，尤其是地名、人名、机构名和专业术语，讲话人有口音时更多（例如“河北保定”被识别成“和贝宝定”，“人工智能”被识别成“人工只能”）。",
    "请结合上下文和常识判断讲话人实际说的是什么：读起来别扭、不合常理的词，换成发音相近、意思通顺的正确写法。",
    "规则：",
    "1. 只改识别错误，不要润色，不要增删内容，不要改说法。",
    "2. 只输出校对后的这一段，不要解释，不要加引号。没有错误就原样输出。",
    "3. 标着【上文】的只作参考，只输出【请校对这一段】的内容。",
    "4. 下面如果附有术语表和专有名词，校对时按它们的写法。",
};

QJsonObject object(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

QJsonArray messages(const QByteArray &body)
{
    return object(body).value(QStringLiteral("messages")).toArray();
}

QString content(const QByteArray &body, qsizetype index)
{
    return messages(body).at(index).toObject().value(QStringLiteral("content")).toString();
}

QStringList roles(const QByteArray &body)
{
    QStringList list;
    for (const QJsonValue &message : messages(body))
        list << message.toObject().value(QStringLiteral("role")).toString();
    return list;
}

QString traditionalPrompt()
{
    QStringList lines = toChineseLines;
    lines[0].replace(QStringLiteral("简体中文"), QStringLiteral("繁体中文"));
    return (lines + traditionalRuleLines).join(QLatin1Char('\n'));
}

const QString memory = QStringLiteral("\n\n【会议背景】\n心血管会议");

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(DeepSeek::Chunk)
Q_DECLARE_METATYPE(DeepSeek::Pair)
Q_DECLARE_METATYPE(std::optional<DeepSeek::Usage>)

class DeepSeekTest final : public QObject {
    Q_OBJECT
private slots:
    void prompts_data();
    void prompts();
    void bodyFields_data();
    void bodyFields();
    void liveBodyMessages_data();
    void liveBodyMessages();
    void contextUserTurns_data();
    void contextUserTurns();
    void chatCopiesMessages();
    void prepared_data();
    void prepared();
    void parse_data();
    void parse();
    void usage_data();
    void usage();
    void correctionHead_data();
    void correctionHead();
    void splitCorrection_data();
    void splitCorrection();
    void splitAlternate_data();
    void splitAlternate();
};

void DeepSeekTest::prompts_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QString toChinese = toChineseLines.join(QLatin1Char('\n'));
    const QString toEnglish = toEnglishLines.join(QLatin1Char('\n'));
    const QString proofreading = proofreadingLines.join(QLatin1Char('\n'));
    const QString englishLine = englishLineLines.join(QLatin1Char('\n'));

    QTest::newRow("live to Chinese") << DeepSeek::body("Hello", {}, {}, {}, false) << toChinese;
    QTest::newRow("live to Chinese with memory")
        << DeepSeek::body("Hello", {}, memory, {}, false) << toChinese + memory;
    QTest::newRow("backfill to Chinese") << DeepSeek::backfillBody("Hello", {}, {}, false) << toChinese;
    QTest::newRow("live to English") << DeepSeek::body("你好", {}, {}, {}, true) << toEnglish;
    QTest::newRow("backfill to English with memory")
        << DeepSeek::backfillBody("你好", {}, memory, true) << toEnglish + memory;
    QTest::newRow("English line") << DeepSeek::englishBody("Bonjour", {}) << englishLine;
    QTest::newRow("proofreading with memory")
        << DeepSeek::correctionBody("你好", {}, memory) << proofreading + memory;
    QTest::newRow("traditional live to Chinese")
        << DeepSeek::body("Hello", {}, {}, {}, false, true) << traditionalPrompt();
    QTest::newRow("traditional backfill with memory")
        << DeepSeek::backfillBody("Hello", {}, memory, false, true) << traditionalPrompt() + memory;
    QTest::newRow("traditional leaves to English alone")
        << DeepSeek::body("你好", {}, {}, {}, true, true) << toEnglish;
}

void DeepSeekTest::prompts()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(messages(body).at(0).toObject().value(QStringLiteral("role")).toString(),
             QStringLiteral("system"));
    QCOMPARE(content(body, 0), expected);
}

void DeepSeekTest::bodyFields_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<int>("maxTokens");
    QTest::addColumn<bool>("tools");
    QTest::addColumn<bool>("jsonAnswer");

    QTest::newRow("live") << DeepSeek::body("Hi", {}, {}, {}, false) << 1.0 << 400 << false << false;
    QTest::newRow("backfill") << DeepSeek::backfillBody("Hi", {}, {}, true) << 1.0 << 800 << false << false;
    QTest::newRow("English line") << DeepSeek::englishBody("Hi", {}) << 0.3 << 400 << false << false;
    QTest::newRow("proofreading") << DeepSeek::correctionBody("好", {}, {}) << 0.3 << 600 << false << false;
    QTest::newRow("research with web search")
        << DeepSeek::researchBody("s", "u", true) << 0.2 << 1500 << true << false;
    QTest::newRow("research without web search")
        << DeepSeek::researchBody("s", "u", false) << 0.2 << 1500 << false << true;
    QTest::newRow("chat with web search") << DeepSeek::chatBody("s", {}, true) << 0.3 << 2500 << true << false;
    QTest::newRow("chat without web search") << DeepSeek::chatBody("s", {}, false) << 0.3 << 2500 << false << false;
    QTest::newRow("agent") << DeepSeek::agentBody("s", "u", 4000) << 0.2 << 4000 << false << true;
    QTest::newRow("agent small") << DeepSeek::agentBody("s", "u", 200) << 0.2 << 200 << false << true;
}

void DeepSeekTest::bodyFields()
{
    QFETCH(QByteArray, body);
    QFETCH(double, temperature);
    QFETCH(int, maxTokens);
    QFETCH(bool, tools);
    QFETCH(bool, jsonAnswer);

    const QJsonObject json = object(body);
    QCOMPARE(json.value("model").toString(), QStringLiteral("deepseek-flash"));
    QCOMPARE(json.value("stream"), QJsonValue(true));
    QCOMPARE(json.value("thinking").toObject(), QJsonObject({{"type", "disabled"}}));
    QCOMPARE(json.value("temperature").toDouble(), temperature);
    QCOMPARE(json.value("max_tokens").toDouble(), double(maxTokens));
    // The token limit is a JSON integer on the wire, never "400.0".
    QVERIFY(body.contains("\"max_tokens\":" + QByteArray::number(maxTokens) + ",")
            || body.contains("\"max_tokens\":" + QByteArray::number(maxTokens) + "}"));
    QCOMPARE(json.contains("tools"), tools);
    if (tools)
        QCOMPARE(json.value("tools").toArray(), QJsonArray({QJsonObject({{"type", "deepseek_web_search"}})}));
    QCOMPARE(json.contains("response_format"), jsonAnswer);
    if (jsonAnswer)
        QCOMPARE(json.value("response_format").toObject(), QJsonObject({{"type", "json_object"}}));
    QCOMPARE(json.keys().size(), 6 + (tools ? 1 : 0) + (jsonAnswer ? 1 : 0));
}

void DeepSeekTest::liveBodyMessages_data()
{
    QTest::addColumn<QList<DeepSeek::Pair>>("context");
    QTest::addColumn<QString>("hints");
    QTest::addColumn<bool>("toEnglish");
    QTest::addColumn<QStringList>("expectedRoles");
    QTest::addColumn<QStringList>("expectedContents"); // after the system message

    const QList<DeepSeek::Pair> pairs{{"Good morning.", "早上好。", ""},
                                      {"Bonjour à tous.", "大家好。", "Hello everyone."}};
    QTest::newRow("no context, blank hints send the text alone")
        << QList<DeepSeek::Pair>{} << QStringLiteral(" \n\t\n ") << false
        << QStringList{"system", "user"} << QStringList{"Now the results."};
    QTest::newRow("to Chinese history with an alternate line")
        << pairs << QString() << false
        << QStringList{"system", "user", "assistant", "user", "assistant", "user"}
        << QStringList{"Good morning.", "早上好。", "Bonjour à tous.", "大家好。\nEN: Hello everyone.",
                       "Now the results."};
    QTest::newRow("to English history ignores the alternate")
        << QList<DeepSeek::Pair>{{"大家好", "Hello everyone.", "ignored"}} << QString() << true
        << QStringList{"system", "user", "assistant", "user"}
        << QStringList{"大家好", "校对：大家好\nHello everyone.", "Now the results."};
    QTest::newRow("hints are trimmed and set before the text")
        << QList<DeepSeek::Pair>{} << QStringLiteral("\n  CHIVA → CHIVA\n") << false
        << QStringList{"system", "user"}
        << QStringList{"【本句参考】（只用于这一句，不要翻译）\nCHIVA → CHIVA\n\n【请翻译这一段】Now the results."};
}

void DeepSeekTest::liveBodyMessages()
{
    QFETCH(QList<DeepSeek::Pair>, context);
    QFETCH(QString, hints);
    QFETCH(bool, toEnglish);
    QFETCH(QStringList, expectedRoles);
    QFETCH(QStringList, expectedContents);

    const QByteArray body = DeepSeek::body("Now the results.", context, {}, hints, toEnglish);
    QCOMPARE(roles(body), expectedRoles);
    QStringList contents;
    for (qsizetype i = 1; i < messages(body).size(); ++i)
        contents << content(body, i);
    QCOMPARE(contents, expectedContents);
}

void DeepSeekTest::contextUserTurns_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("backfill without earlier lines")
        << DeepSeek::backfillBody("The end.", {}, {}, false) << QStringLiteral("【请翻译这一段】The end.");
    QTest::newRow("backfill with earlier lines")
        << DeepSeek::backfillBody("The end.", {"First line.", "Second line."}, {}, false)
        << QStringLiteral("【上文（只帮助理解，不要翻译、不要复述）】First line. Second line.\n\n【请翻译这一段】The end.");
    QTest::newRow("backfill joins Chinese without blanks")
        << DeepSeek::backfillBody("结束。", {"你好。", "世界"}, {}, true)
        << QStringLiteral("【上文（只帮助理解，不要翻译、不要复述）】你好。世界\n\n【请翻译这一段】结束。");
    QTest::newRow("English line without earlier lines")
        << DeepSeek::englishBody("Merci.", {}) << QStringLiteral("【请译成英文】Merci.");
    QTest::newRow("English line with earlier lines")
        << DeepSeek::englishBody("Merci.", {"Bonjour.", "Ça va?"})
        << QStringLiteral("【上文】Bonjour. Ça va?\n\n【请译成英文】Merci.");
    QTest::newRow("proofreading without earlier lines")
        << DeepSeek::correctionBody("人工只能", {}, memory) << QStringLiteral("【请校对这一段】人工只能");
    QTest::newRow("proofreading with earlier lines")
        << DeepSeek::correctionBody("人工只能", {"我们谈谈", "新技术"}, {})
        << QStringLiteral("【上文】我们谈谈新技术\n\n【请校对这一段】人工只能");
}

void DeepSeekTest::contextUserTurns()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(roles(body), QStringList({"system", "user"}));
    QCOMPARE(content(body, 1), expected);
}

void DeepSeekTest::chatCopiesMessages()
{
    const QList<QJsonObject> history{
        {{"role", "user"}, {"content", "谁在发言？"}},
        {{"role", "assistant"}, {"content", "平野夏子。"}, {"name", "kept"}},
        {{"role", "user"}, {"content", "她说了什么？"}},
    };
    const QByteArray body = DeepSeek::chatBody("你是会议助手。", history, false);
    const QJsonArray sent = messages(body);
    QCOMPARE(sent.size(), 4);
    QCOMPARE(sent.at(0).toObject(), QJsonObject({{"role", "system"}, {"content", "你是会议助手。"}}));
    for (qsizetype i = 0; i < history.size(); ++i)
        QCOMPARE(sent.at(i + 1).toObject(), history.at(i));

    const QByteArray research = DeepSeek::researchBody("系统", "用户", false);
    QCOMPARE(roles(research), QStringList({"system", "user"}));
    QCOMPARE(content(research, 0), QStringLiteral("系统"));
    QCOMPARE(content(research, 1), QStringLiteral("用户"));
}

void DeepSeekTest::prepared_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("includeUsage");
    QTest::addColumn<bool>("compat");
    QTest::addColumn<QJsonObject>("expected"); // empty: the input comes back byte for byte

    const QJsonObject disabled{{"type", "disabled"}};
    const QJsonObject usageOn{{"include_usage", true}};
    const QByteArray live = DeepSeek::body("Hi", {}, {}, {}, false);
    QJsonObject base = object(live);

    QJsonObject withUsage = base;
    withUsage.insert("stream_options", usageOn);
    QTest::newRow("usage on a streamed body") << live << true << false << withUsage;
    QTest::newRow("no usage") << live << false << false << base;

    QJsonObject compat = base;
    compat.remove("temperature");
    compat.insert("max_completion_tokens", compat.take("max_tokens"));
    QTest::newRow("compatible form") << live << false << true << compat;

    const QByteArray bare = R"({"model":"other","stream":false,"stream_options":{"include_usage":true},"enable_thinking":true,"thinking":{"type":"enabled"}})";
    QTest::newRow("usage asked on a body that does not stream")
        << bare << true << true
        << QJsonObject{{"model", "deepseek-flash"}, {"stream", false}, {"thinking", disabled}};
    QTest::newRow("stream absent")
        << QByteArray(R"({"stream_options":{"include_usage":true},"temperature":0.5})") << true << true
        << QJsonObject{{"model", "deepseek-flash"}, {"thinking", disabled}};
    QTest::newRow("stream as text is not streaming")
        << QByteArray(R"({"stream":"true"})") << true << false
        << QJsonObject{{"model", "deepseek-flash"}, {"stream", "true"}, {"thinking", disabled}};
    QTest::newRow("not JSON") << QByteArray("not json {") << true << true << QJsonObject{};
    QTest::newRow("JSON array") << QByteArray("[1,2]") << true << true << QJsonObject{};
    QTest::newRow("empty") << QByteArray() << true << true << QJsonObject{};
}

void DeepSeekTest::prepared()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, includeUsage);
    QFETCH(bool, compat);
    QFETCH(QJsonObject, expected);

    const QByteArray out = DeepSeek::prepared(input, includeUsage, compat);
    if (expected.isEmpty())
        QCOMPARE(out, input);
    else
        QCOMPARE(object(out), expected);
}

void DeepSeekTest::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<DeepSeek::Chunk>("expected");

    const auto skip = DeepSeek::Chunk::skip();
    const auto done = DeepSeek::Chunk::done();
    QTest::newRow("text") << R"(data: {"choices":[{"delta":{"content":"Hel"}}]})" << DeepSeek::Chunk::delta("Hel");
    QTest::newRow("no blank after data:") << R"(data:{"choices":[{"delta":{"content":"lo"}}]})" << DeepSeek::Chunk::delta("lo");
    QTest::newRow("content kept unchanged") << R"(data: {"choices":[{"delta":{"content":" 你好\n"}}]} )" << DeepSeek::Chunk::delta(" 你好\n");
    QTest::newRow("done") << "data: [DONE]" << done;
    QTest::newRow("done tight") << "data:[DONE]" << done;
    QTest::newRow("done with blanks and tabs") << "data: \t[DONE] \t" << done;
    QTest::newRow("done in capitals") << "DATA: [DONE]" << skip;
    QTest::newRow("done with a line break left") << "data: [DONE]\r" << skip;
    QTest::newRow("empty line") << "" << skip;
    QTest::newRow("comment") << ": keep-alive" << skip;
    QTest::newRow("other field") << "event: message" << skip;
    QTest::newRow("not JSON") << "data: {oops" << skip;
    QTest::newRow("JSON array") << "data: [1]" << skip;
    QTest::newRow("empty choices") << R"(data: {"choices":[],"usage":{"prompt_tokens":3}})" << skip;
    QTest::newRow("choices not objects") << R"(data: {"choices":[1]})" << skip;
    QTest::newRow("choices not an array") << R"(data: {"choices":{"delta":{"content":"x"}}})" << skip;
    QTest::newRow("no delta") << R"(data: {"choices":[{"message":{"content":"x"}}]})" << skip;
    QTest::newRow("delta without content") << R"(data: {"choices":[{"delta":{"role":"assistant"}}]})" << skip;
    QTest::newRow("empty content") << R"(data: {"choices":[{"delta":{"content":""}}]})" << skip;
    QTest::newRow("null content") << R"(data: {"choices":[{"delta":{"content":null}}]})" << skip;
    QTest::newRow("number content") << R"(data: {"choices":[{"delta":{"content":5}}]})" << skip;
}

void DeepSeekTest::parse()
{
    QFETCH(QString, line);
    QFETCH(DeepSeek::Chunk, expected);
    const DeepSeek::Chunk chunk = DeepSeek::parse(line);
    QCOMPARE(int(chunk.kind), int(expected.kind));
    QCOMPARE(chunk.text, expected.text);
}

void DeepSeekTest::usage_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<std::optional<DeepSeek::Usage>>("expected");

    using U = DeepSeek::Usage;
    const std::optional<U> none;
    QTest::newRow("cache hit wins over details")
        << R"(data: {"usage":{"prompt_tokens":10,"completion_tokens":4,"prompt_cache_hit_tokens":5,"prompt_tokens_details":{"cached_tokens":7}}})"
        << std::optional<U>(U{10, 4, 5});
    QTest::newRow("details only")
        << R"(data: {"usage":{"prompt_tokens":10,"completion_tokens":4,"prompt_tokens_details":{"cached_tokens":7}}})"
        << std::optional<U>(U{10, 4, 7});
    QTest::newRow("neither cached form")
        << R"(data: {"usage":{"prompt_tokens":10,"completion_tokens":4}})" << std::optional<U>(U{10, 4, 0});
    QTest::newRow("completion missing") << R"(data:{"usage":{"prompt_tokens":10}})" << std::optional<U>(U{10, 0, 0});
    QTest::newRow("with text in the same line")
        << R"(data: {"choices":[{"delta":{"content":"x"}}],"usage":{"prompt_tokens":2,"completion_tokens":1}})"
        << std::optional<U>(U{2, 1, 0});
    QTest::newRow("empty choices with usage")
        << R"(data: {"choices":[],"usage":{"prompt_tokens":8,"completion_tokens":3,"prompt_cache_hit_tokens":6}})"
        << std::optional<U>(U{8, 3, 6});
    QTest::newRow("no prompt tokens") << R"(data: {"usage":{"completion_tokens":4}})" << none;
    QTest::newRow("prompt tokens not whole") << R"(data: {"usage":{"prompt_tokens":1.5}})" << none;
    QTest::newRow("prompt tokens as text") << R"(data: {"usage":{"prompt_tokens":"10"}})" << none;
    QTest::newRow("usage null") << R"(data: {"choices":[],"usage":null})" << none;
    QTest::newRow("usage empty") << R"(data: {"usage":{}})" << none;
    QTest::newRow("not a data line") << R"(usage: {"usage":{"prompt_tokens":1}})" << none;
    QTest::newRow("usage word unquoted") << R"(data: {"choices":[],"usage_":{"prompt_tokens":1}})" << none;
    QTest::newRow("broken JSON") << R"(data: {"usage":{"prompt_tokens":1})" << none;
}

void DeepSeekTest::usage()
{
    QFETCH(QString, line);
    QFETCH(std::optional<DeepSeek::Usage>, expected);
    const std::optional<DeepSeek::Usage> counts = DeepSeek::usage(line);
    QCOMPARE(counts.has_value(), expected.has_value());
    if (expected) {
        QCOMPARE(counts->prompt, expected->prompt);
        QCOMPARE(counts->completion, expected->completion);
        QCOMPARE(counts->cached, expected->cached);
    }
}

void DeepSeekTest::correctionHead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("corrected");
    QTest::addColumn<int>("consumed");

    QTest::newRow("line not complete") << QStringLiteral("校对：你好") << false << QString() << 0;
    QTest::newRow("blanks, ASCII colon, blanks around") << QStringLiteral("  校对: 你好 \nHello") << true
                                                        << QStringLiteral("你好") << 10;
    QTest::newRow("full-width colon") << QStringLiteral("校对：河北保定\nBaoding") << true
                                      << QStringLiteral("河北保定") << 8;
    QTest::newRow("blank before colon") << QStringLiteral("\n校对 :人工智能\n") << true
                                        << QStringLiteral("人工智能") << 10;
    QTest::newRow("no colon") << QStringLiteral("校对你好\nHello") << false << QString() << 0;
    QTest::newRow("no label") << QStringLiteral("Hello\nWorld") << false << QString() << 0;
    QTest::newRow("emoji counts as one character") << QStringLiteral("校对：👍🏽\nok") << true
                                                   << QStringLiteral("👍🏽") << 5;
}

void DeepSeekTest::correctionHead()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, corrected);
    QFETCH(int, consumed);
    const auto head = DeepSeek::correctionHead(text);
    QCOMPARE(head.has_value(), found);
    if (found) {
        QCOMPARE(head->corrected, corrected);
        QCOMPARE(head->consumed, consumed);
        QCOMPARE(text.at(head->end - 1), QLatin1Char('\n'));
    }
}

void DeepSeekTest::splitCorrection_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<QString>>("corrected");
    QTest::addColumn<QString>("translation");

    QTest::newRow("two English lines") << QStringLiteral("校对：保定\nBaoding\nHebei")
                                       << std::optional<QString>(QStringLiteral("保定"))
                                       << QStringLiteral("Baoding Hebei");
    QTest::newRow("single English line") << QStringLiteral("  Hello there.\n")
                                         << std::optional<QString>() << QStringLiteral("Hello there.");
    QTest::newRow("label without second line") << QStringLiteral("校对：保定")
                                               << std::optional<QString>()
                                               << QStringLiteral("校对：保定");
}

void DeepSeekTest::splitCorrection()
{
    QFETCH(QString, text);
    QFETCH(std::optional<QString>, corrected);
    QFETCH(QString, translation);
    const DeepSeek::CorrectionSplit split = DeepSeek::splitCorrection(text);
    QCOMPARE(split.corrected, corrected);
    QCOMPARE(split.translation, translation);
}

void DeepSeekTest::splitAlternate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("main");
    QTest::addColumn<std::optional<QString>>("alt");

    QTest::newRow("English label, two words on two lines")
        << QStringLiteral("大家好。\n\nEnglish: Hello\neveryone") << QStringLiteral("大家好。")
        << std::optional<QString>(QStringLiteral("Hello everyone"));
    QTest::newRow("label alone") << QStringLiteral("大家好。\nEN:") << QStringLiteral("大家好。")
                                 << std::optional<QString>();
    QTest::newRow("lower-case label kept") << QStringLiteral("大家好。\nen: hello")
                                           << QStringLiteral("大家好。")
                                           << std::optional<QString>(QStringLiteral("en: hello"));
    QTest::newRow("full-width Chinese label") << QStringLiteral("你好\n英文：Hi") << QStringLiteral("你好")
                                              << std::optional<QString>(QStringLiteral("Hi"));
    QTest::newRow("one line") << QStringLiteral("  大家好。 ") << QStringLiteral("大家好。")
                              << std::optional<QString>();
}

void DeepSeekTest::splitAlternate()
{
    QFETCH(QString, text);
    QFETCH(QString, main);
    QFETCH(std::optional<QString>, alt);
    const DeepSeek::AlternateSplit split = DeepSeek::splitAlternate(text);
    QCOMPARE(split.main, main);
    QCOMPARE(split.alt, alt);
}

DODEDAROV_TEST(DeepSeekTest)
#include "DeepSeekTest.moc"
