#pragma once

#include <QString>

#include <memory>
#include <mutex>

// Simplified to traditional Chinese through OpenCC, behind the `ChineseScript::toTraditional`
// hook. The conversion tables take a moment to load and most meetings never need them, so they
// are loaded on the first conversion, not at start-up. When they cannot be loaded, or a
// conversion fails, the text comes back unchanged; a failed load is not retried. Safe to use
// from any thread. The application delegate owns the one instance.
class TraditionalChinese final {
public:
    explicit TraditionalChinese(QString config = QStringLiteral("s2t.json"));
    ~TraditionalChinese();
    TraditionalChinese(const TraditionalChinese &) = delete;
    TraditionalChinese &operator=(const TraditionalChinese &) = delete;

    QString convert(const QString &text);
    // Whether the tables are in place (false before the first conversion and after a failed load).
    bool isLoaded() const;

private:
    class Converter;
    const QString m_config;
    mutable std::mutex m_mutex;
    bool m_tried = false;
    std::unique_ptr<Converter> m_converter;
};
