#include "platform/TraditionalChinese.h"

#include <opencc.h>

#include <optional>

// Owns the OpenCC handle, so the C type stays in this file.
class TraditionalChinese::Converter {
public:
    explicit Converter(opencc_t handle) : m_handle(handle) {}
    ~Converter() { opencc_close(m_handle); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    static std::unique_ptr<Converter> open(const QString &config)
    {
        const opencc_t handle = opencc_open(config.toUtf8().constData());
        if (handle == reinterpret_cast<opencc_t>(-1) || handle == nullptr)
            return nullptr;
        return std::make_unique<Converter>(handle);
    }

    std::optional<QString> convert(const QString &text) const
    {
        const QByteArray utf8 = text.toUtf8();
        char *converted = opencc_convert_utf8(m_handle, utf8.constData(), static_cast<size_t>(utf8.size()));
        if (converted == nullptr)
            return std::nullopt;
        QString result = QString::fromUtf8(converted);
        opencc_convert_utf8_free(converted);
        return result;
    }

private:
    opencc_t m_handle;
};

TraditionalChinese::TraditionalChinese(QString config) : m_config(std::move(config)) {}

TraditionalChinese::~TraditionalChinese() = default;

QString TraditionalChinese::convert(const QString &text)
{
    if (text.isEmpty())
        return text;
    std::lock_guard lock(m_mutex);
    if (!m_tried) {
        m_tried = true;
        m_converter = Converter::open(m_config);
    }
    if (!m_converter)
        return text;
    // Text with a NUL inside would come back cut short at it: keep such input as it is.
    if (text.contains(QChar(0)))
        return text;
    return m_converter->convert(text).value_or(text);
}

bool TraditionalChinese::isLoaded() const
{
    std::lock_guard lock(m_mutex);
    return m_converter != nullptr;
}
