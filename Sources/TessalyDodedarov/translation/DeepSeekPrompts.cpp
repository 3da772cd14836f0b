// The caption system prompts and the section markers of the caption requests. The model is told
// exactly these words; a changed character changes what it answers.
#include "translation/DeepSeek.h"

#include "speech/Segmenter.h"

#include <QJsonArray>

namespace {

const QString toChinesePrompt = QStringLiteral(
    "你是同声传译字幕员，负责把外语口语（多数是英语，也可能是日语、韩语、法语、西班牙语等任何语言）实时译成简体中文字幕。\n"
    "规则：\n"
    "1. 只输出译文本身，不要解释，不要加引号，不要重复英文原文。\n"
    "2. 用自然、简洁的中文口语，意思完整通顺。\n"
    "3. 英文来自语音识别，可能有错词或缺标点，请结合上下文按最合理的意思翻译。\n"
    "4. 人名、地名、机构名：日本、韩国等用汉字的人名地名写汉字（Natsuko Hirano → 平野夏子）；有通行中文译名的知名人物、地名用通行译名；其他人名、产品名、缩写等拿不准的保留原文。同一个人前后写法一致（照上文的写法）。比较和否定的方向要和原文一致（It's far better to… → ……要好得多，不是“远不如”）。临床试验、研究、指南、项目的名称保留原文，不要按字面意译（SYNCHRONOUS trial → SYNCHRONOUS 研究，不是“同步试验”；CHIVA → CHIVA）；识别结果里这类名称可能是小写。\n"
    "5. 每条消息都是紧接上文的下一段话，可能只是半句；只翻译当前这一段，不要补全，也不要重复上文已经译过的内容。\n"
    "6. 只输出一行，不要换行（原文不是英语时按第 11 条输出两行）。\n"
    "7. 口语里的语气词、口头禅、重复和结巴（如 uh、um、you know、I, I, I、I w- I would）不要译出来，直接译成通顺的话。\n"
    "8. 如果这段话明显没说完，就按已有的内容自然地译，不要用省略号代替没说的部分。\n"
    "9. 如果消息里有标着【上文】或【本句参考】的部分，那只是帮助理解的背景和译法，不要翻译它，只翻译【请翻译这一段】。\n"
    "10. 数字、单位、百分比、年份、剂量必须和原文一个不差。\n"
    "11. 原文如果不是英语（比如日语、韩语、法语），输出两行：第一行是中文译文，第二行以“EN: ”开头，是同一段话的英文译文。原文是英语就只输出中文那一行。"
    );

const QString traditionalRule = QStringLiteral(
    "12. 中文译文一律用繁体中文（正体字）输出，不要用简体字。"
    );

const QString toEnglishPrompt = QStringLiteral(
    "You are a simultaneous interpreter producing live English subtitles for spoken Chinese.\n"
    "The Chinese comes from speech recognition. It often turns words into similar-sounding wrong words, especially place names, personal names, institutions and technical terms, and more so when the speaker has an accent (e.g. 河北保定 recognized as 和贝宝定, 人工智能 as 人工只能). Use the context and common knowledge to work out what the speaker actually said: when a phrase is odd or makes no sense in context, replace it with the similar-sounding phrase that does.\n"
    "Output exactly two lines:\n"
    "Line 1: 校对：followed by the Chinese with the recognition errors fixed. Only fix misrecognized words; do not rephrase, add or drop anything. If nothing is wrong, repeat it unchanged.\n"
    "Line 2: the English translation of the corrected Chinese.\n"
    "Translation rules:\n"
    "1. Natural, concise spoken English that keeps the full meaning. No explanations, no quotes.\n"
    "2. Chinese personal names in pinyin (e.g. 孟凡 → Meng Fan); standard English names for places, institutions and technical terms.\n"
    "3. Each message continues the previous one and may be only half a sentence. Translate only the current message; do not complete it and do not repeat what was already translated.\n"
    "4. Drop fillers, repetitions and false starts (e.g. 那个、就是说、嗯).\n"
    "5. If the sentence is clearly unfinished, translate what is there naturally; no ellipses for the missing part.\n"
    "6. If the message has a part marked 【上文】 or 【本句参考】, it is background and term guidance only; correct and translate only the part marked 【请翻译这一段】.\n"
    "7. Any glossary or rules appended below in Chinese still apply: use the English side of each term pair, and the Chinese side when correcting.\n"
    "8. Numbers, units, percentages, years and doses must match the Chinese exactly."
    );

const QString englishLinePrompt = QStringLiteral(
    "You translate live speech captions into natural, concise English. The speech may be in any language and may be only part of a sentence. Output only the English translation of the part marked 【请译成英文】, on one line, with no explanations. The part marked 【上文】 is context only."
    );

const QString proofreadingPrompt = QStringLiteral(
    "你是中文语音识别的校对员。语音识别常把词识别成发音相近的错词，尤其是地名、人名、机构名和专业术语，讲话人有口音时更多（例如“河北保定”被识别成“和贝宝定”，“人工智能”被识别成“人工只能”）。\n"
    "请结合上下文和常识判断讲话人实际说的是什么：读起来别扭、不合常理的词，换成发音相近、意思通顺的正确写法。\n"
    "规则：\n"
    "1. 只改识别错误，不要润色，不要增删内容，不要改说法。\n"
    "2. 只输出校对后的这一段，不要解释，不要加引号。没有错误就原样输出。\n"
    "3. 标着【上文】的只作参考，只输出【请校对这一段】的内容。\n"
    "4. 下面如果附有术语表和专有名词，校对时按它们的写法。"
    );

// Section markers inside the user turns.
const QString contextMarker = QStringLiteral("【上文（只帮助理解，不要翻译、不要复述）】");
const QString translateMarker = QStringLiteral("【请翻译这一段】");
const QString shortContextMarker = QStringLiteral("【上文】");
const QString referenceMarker = QStringLiteral("【本句参考】（只用于这一句，不要翻译）\n");
const QString translateAfterReferenceMarker = QStringLiteral("\n\n【请翻译这一段】");
const QString toEnglishMarker = QStringLiteral("【请译成英文】");
const QString proofreadMarker = QStringLiteral("【请校对这一段】");

QJsonObject message(const QString &role, const QString &content)
{
    return QJsonObject{{QStringLiteral("role"), role}, {QStringLiteral("content"), content}};
}

// Earlier lines as context, then the text under its marker.
QString withContext(const QString &contextHead, const QStringList &before, const QString &marker,
                    const QString &text)
{
    QString content;
    if (!before.isEmpty())
        content = contextHead + Segmenter::join(before) + QStringLiteral("\n\n");
    return content + marker + text;
}

} // namespace

QString DeepSeek::captionPrompt(bool toEnglish, bool traditional)
{
    if (toEnglish)
        return toEnglishPrompt;
    if (!traditional)
        return toChinesePrompt;
    QString prompt = toChinesePrompt;
    prompt.replace(QStringLiteral("简体中文"), QStringLiteral("繁体中文"));
    return prompt + QLatin1Char('\n') + traditionalRule;
}

QByteArray DeepSeek::body(const QString &english, const QList<Pair> &context, const QString &memory,
                          const QString &hints, bool toEnglish, bool traditional)
{
    QJsonArray messages{
        message(QStringLiteral("system"), captionPrompt(toEnglish, traditional) + memory)};
    for (const Pair &pair : context) {
        messages.append(message(QStringLiteral("user"), pair.english));
        // The history answers in the format the prompt asks for, so the model keeps to it.
        QString answer;
        if (toEnglish)
            answer = QStringLiteral("校对：") + pair.english + QLatin1Char('\n') + pair.chinese;
        else if (pair.alt.isEmpty())
            answer = pair.chinese;
        else
            answer = pair.chinese + QStringLiteral("\nEN: ") + pair.alt;
        messages.append(message(QStringLiteral("assistant"), answer));
    }
    const QString trimmedHints = hints.trimmed();
    const QString user = trimmedHints.isEmpty()
        ? english
        : referenceMarker + trimmedHints + translateAfterReferenceMarker + english;
    messages.append(message(QStringLiteral("user"), user));
    return serialize(messages, 1.0, 400, {});
}

QByteArray DeepSeek::backfillBody(const QString &english, const QStringList &before,
                                  const QString &memory, bool toEnglish, bool traditional)
{
    const QJsonArray messages{
        message(QStringLiteral("system"), captionPrompt(toEnglish, traditional) + memory),
        message(QStringLiteral("user"), withContext(contextMarker, before, translateMarker, english)),
    };
    return serialize(messages, 1.0, 800, {});
}

QByteArray DeepSeek::englishBody(const QString &text, const QStringList &before)
{
    const QJsonArray messages{
        message(QStringLiteral("system"), englishLinePrompt),
        message(QStringLiteral("user"), withContext(shortContextMarker, before, toEnglishMarker, text)),
    };
    return serialize(messages, 0.3, 400, {});
}

QByteArray DeepSeek::correctionBody(const QString &text, const QStringList &before,
                                    const QString &memory)
{
    const QJsonArray messages{
        message(QStringLiteral("system"), proofreadingPrompt + memory),
        message(QStringLiteral("user"), withContext(shortContextMarker, before, proofreadMarker, text)),
    };
    return serialize(messages, 0.3, 600, {});
}
