#include "common/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt 6 asks for the file dialog's type names ("Folder", "Drive") under a context of their own
// that the installed Chinese translations, made before the texts moved, do not have: they carry
// the same texts under the file dialog's context, so they are looked up there.
class MovedTexts final : public QTranslator {
public:
    MovedTexts(const QTranslator &base, QObject *parent)
        : QTranslator(parent)
        , m_base(base)
    {
    }

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        return m_base.translate("QFileDialog", sourceText, disambiguation, n);
    }

    bool isEmpty() const override { return false; }

private:
    const QTranslator &m_base;
};

}

QTranslator *QtTranslations::install()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    // Its child: deleting the translator takes both out.
    QCoreApplication::installTranslator(new MovedTexts(*translator, translator));
    return translator;
}
