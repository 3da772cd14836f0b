#include "TestMain.h"

#include "common/QtTranslations.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>

#include <memory>

// Qt's own texts in Chinese, from the translations installed with Qt (they write 撤消 for undo).
class QtTranslationsTest final : public QObject {
    Q_OBJECT

private slots:
    void textFieldMenuAndDialogButtonsAreChinese();
    void fileDialogTypeColumnIsChinese();
};

void QtTranslationsTest::textFieldMenuAndDialogButtonsAreChinese()
{
    std::unique_ptr<QTranslator> translator(QtTranslations::install());
    QVERIFY2(translator, "Qt's Chinese translations are missing (scripts/install-deps: qt6-translations-l10n)");

    QLineEdit field(u"文字"_qs);
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList texts;
    for (const QAction *action : menu->actions())
        if (!action->isSeparator())
            texts.append(action->text());
    const QString all = texts.join(u'|');
    for (const QString &word : {u"撤消"_qs, u"重做"_qs, u"剪切"_qs, u"复制"_qs, u"粘贴"_qs})
        QVERIFY2(all.contains(word), qPrintable(all));

    QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    QVERIFY2(buttons.button(QDialogButtonBox::Cancel)->text().contains(u"取消"_qs),
             qPrintable(buttons.button(QDialogButtonBox::Cancel)->text()));

    // Taken out again, Qt speaks English: the Chinese above came from the translator.
    translator.reset();
    std::unique_ptr<QMenu> english(field.createStandardContextMenu());
    QVERIFY(english->actions().first()->text().contains(u"Undo"_qs));
}

// The file dialog's type column names a folder in Chinese too.
void QtTranslationsTest::fileDialogTypeColumnIsChinese()
{
    std::unique_ptr<QTranslator> translator(QtTranslations::install());
    QVERIFY(translator);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(u"会议录像"_qs));
    QFileDialog dialog(nullptr, QString(), folder.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto *model = dialog.findChild<QFileSystemModel *>();
    QVERIFY(model);
    const QModelIndex row = model->index(QDir(folder.path()).filePath(u"会议录像"_qs));
    QVERIFY(row.isValid());
    // The type column is filled in by the model's own thread.
    QTRY_VERIFY(!model->data(row.siblingAtColumn(2)).toString().isEmpty());
    QCOMPARE(model->data(row.siblingAtColumn(2)).toString(), u"文件夹"_qs);
}

DODEDAROV_TEST(QtTranslationsTest)
#include "QtTranslationsTest.moc"
