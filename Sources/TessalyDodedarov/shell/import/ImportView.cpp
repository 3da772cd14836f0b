#include "shell/import/ImportView.h"

#include "display/BusyIndicator.h"
#include "display/Symbols.h"
#include "platform/FileReveal.h"
#include "shell/import/ImportDropZone.h"

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMimeDatabase>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using Kind = MediaImporter::Stage::Kind;

const QColor orange(255, 149, 0);
constexpr int symbolSize = 32;

QFont headlineFont(QFont font)
{
    font.setWeight(QFont::DemiBold);
    return font;
}

// A little smaller than the body text, for status lines and the explanation.
QFont calloutFont(QFont font)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 12.0 / 13.0);
    return font;
}

QLabel *plainLabel(QWidget *parent, const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QPushButton *button(const QString &text, const QString &name, QWidget *parent)
{
    auto *result = new QPushButton(text, parent);
    result->setObjectName(name);
    result->setAutoDefault(false);
    return result;
}

}

ImportView::ImportView(MediaImporter &importer, QWidget *parent)
    : QWidget(parent)
    , m_importer(importer)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);

    // The drop zone: symbol, headline and the file button.
    m_zone = new ImportDropZone(this);
    m_zone->setObjectName(QStringLiteral("dropZone"));
    m_zone->dropped = [this](const QList<QUrl> &urls) { return drop(urls); };
    auto *zoneColumn = new QVBoxLayout(m_zone);
    zoneColumn->setContentsMargins(12, 12, 12, 12);
    zoneColumn->setSpacing(8);
    auto *symbol = new QLabel(m_zone);
    symbol->setObjectName(QStringLiteral("symbol"));
    symbol->setPixmap(QPixmap::fromImage(Symbols::image(QStringLiteral("waveform.badge.plus"),
        QSize(symbolSize, symbolSize), palette().color(QPalette::WindowText), devicePixelRatioF())));
    symbol->setAlignment(Qt::AlignCenter);
    m_headlineLabel = plainLabel(m_zone, QStringLiteral("headline"));
    m_headlineLabel->setFont(headlineFont(font()));
    m_headlineLabel->setAlignment(Qt::AlignCenter);
    // The headline takes the zone's width and is cut to it, never widening the window.
    m_headlineLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_headlineLabel->installEventFilter(this);
    m_pick = button(QStringLiteral("选择文件…"), QStringLiteral("pick"), m_zone);
    connect(m_pick, &QPushButton::clicked, this, &ImportView::pick);
    zoneColumn->addStretch();
    zoneColumn->addWidget(symbol, 0, Qt::AlignHCenter);
    zoneColumn->addWidget(m_headlineLabel);
    zoneColumn->addWidget(m_pick, 0, Qt::AlignHCenter);
    zoneColumn->addStretch();
    column->addWidget(m_zone);

    // Progress row: spinner, stage text, space, cancel.
    m_progress = new QWidget(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    auto *row = new QHBoxLayout(m_progress);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto *spinner = new BusyIndicator(m_progress);
    spinner->setColor(palette().color(QPalette::WindowText));
    m_progressText = plainLabel(m_progress, QStringLiteral("progressText"));
    m_progressText->setFont(calloutFont(font()));
    auto *cancel = button(QStringLiteral("取消"), QStringLiteral("cancel"), m_progress);
    connect(cancel, &QPushButton::clicked, this, [this] { m_importer.cancel(); });
    row->addWidget(spinner, 0, Qt::AlignVCenter);
    row->addWidget(m_progressText, 0, Qt::AlignVCenter);
    row->addStretch();
    row->addWidget(cancel, 0, Qt::AlignVCenter);
    column->addWidget(m_progress);

    m_failure = plainLabel(this, QStringLiteral("failure"));
    m_failure->setFont(calloutFont(font()));
    m_failure->setWordWrap(true);
    setTextColor(m_failure, orange);
    column->addWidget(m_failure);

    // Finished block: title, summary and the buttons for the files written.
    m_finished = new QWidget(this);
    m_finished->setObjectName(QStringLiteral("finished"));
    auto *block = new QVBoxLayout(m_finished);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(8);
    m_finishedTitle = plainLabel(m_finished, QStringLiteral("finishedTitle"));
    m_finishedTitle->setFont(headlineFont(font()));
    m_finishedTitle->setWordWrap(true);
    m_summary = plainLabel(m_finished, QStringLiteral("summary"));
    m_summary->setFont(calloutFont(font()));
    m_summary->setWordWrap(true);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto *reveal = button(QStringLiteral("在文件管理器中显示"), QStringLiteral("reveal"), m_finished);
    connect(reveal, &QPushButton::clicked, this, [this] { FileReveal::revealFiles(m_shown.outputs); });
    m_openSubtitles = button(QStringLiteral("打开字幕"), QStringLiteral("openSubtitles"), m_finished);
    connect(m_openSubtitles, &QPushButton::clicked, this, [this] {
        if (!m_shown.outputs.isEmpty())
            QDesktopServices::openUrl(m_shown.outputs.at(0));
    });
    m_openTranscript = button(QStringLiteral("打开文稿"), QStringLiteral("openTranscript"), m_finished);
    connect(m_openTranscript, &QPushButton::clicked, this, [this] {
        if (m_shown.outputs.size() > 1)
            QDesktopServices::openUrl(m_shown.outputs.at(1));
    });
    buttons->addWidget(reveal);
    buttons->addWidget(m_openSubtitles);
    buttons->addWidget(m_openTranscript);
    buttons->addStretch();
    block->addWidget(m_finishedTitle);
    block->addWidget(m_summary);
    block->addLayout(buttons);
    column->addWidget(m_finished);

    column->addStretch();

    auto *about = new QLabel(explanation, this);
    about->setObjectName(QStringLiteral("explanation"));
    about->setTextFormat(Qt::PlainText);
    about->setFont(calloutFont(font()));
    about->setWordWrap(true);
    setTextColor(about, palette().color(QPalette::PlaceholderText));
    column->addWidget(about);

    connect(&m_importer, &MediaImporter::stageChanged, this, &ImportView::refresh);
    connect(&m_importer, &MediaImporter::fileNameChanged, this, &ImportView::refresh);
    connect(&m_importer, &MediaImporter::outputsChanged, this, &ImportView::refresh);
    connect(&m_importer, &MediaImporter::summaryChanged, this, &ImportView::refresh);
    refresh();
}

void ImportView::refresh()
{
    apply({m_importer.stage(), m_importer.fileName(), m_importer.outputs(), m_importer.summary()});
}

void ImportView::apply(const Shown &shown)
{
    m_shown = shown;
    const MediaImporter::Stage &stage = shown.stage;
    const bool busy = stage.isRunning();

    m_headline = busy ? QStringLiteral("正在处理：") + shown.fileName : QStringLiteral("把音频或视频文件拖到这里");
    fitHeadline();
    m_pick->setVisible(!busy);

    QString progress;
    switch (stage.kind) {
    case Kind::extracting:
        progress = QStringLiteral("正在提取声音…");
        break;
    case Kind::transcribing:
        progress = QStringLiteral("正在上传并转写（长视频要几分钟）…");
        break;
    case Kind::translating:
        progress = QStringLiteral("正在翻译 %1/%2 批…").arg(stage.done).arg(stage.total);
        break;
    case Kind::idle:
    case Kind::finished:
    case Kind::failed:
        break;
    }
    m_progressText->setText(progress);
    m_progress->setVisible(busy);

    m_failure->setText(stage.kind == Kind::failed ? QStringLiteral("⚠︎ ") + stage.message : QString());
    m_failure->setVisible(stage.kind == Kind::failed);

    const bool finished = stage.kind == Kind::finished;
    m_finishedTitle->setText(QStringLiteral("完成：") + shown.fileName);
    m_summary->setText(shown.summary);
    m_openSubtitles->setVisible(!shown.outputs.isEmpty());
    m_openTranscript->setVisible(shown.outputs.size() > 1);
    m_finished->setVisible(finished);
    emit contentChanged();
}

QSize ImportView::fittingSize() const
{
    QLayout *column = layout();
    column->activate();
    const int width = std::max(baseSize.width(), column->totalMinimumSize().width());
    const int height = column->hasHeightForWidth() ? column->totalHeightForWidth(width)
                                                   : column->totalSizeHint().height();
    return QSize(width, std::max(baseSize.height(), height));
}

bool ImportView::drop(const QList<QUrl> &urls)
{
    const std::optional<QUrl> file = dropTarget(urls, m_importer.stage().isRunning());
    if (!file)
        return false;
    m_importer.start(*file);
    return true;
}

std::optional<QUrl> ImportView::dropTarget(const QList<QUrl> &urls, bool busy)
{
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        // Only the first file of a drop counts; while a job runs it is refused, not queued.
        if (busy)
            return std::nullopt;
        return url;
    }
    return std::nullopt;
}

QStringList ImportView::mediaPatterns()
{
    QStringList patterns;
    for (const QMimeType &type : QMimeDatabase().allMimeTypes()) {
        const QString name = type.name();
        if (name.startsWith(QLatin1String("audio/")) || name.startsWith(QLatin1String("video/")))
            patterns.append(type.globPatterns());
    }
    patterns.removeDuplicates();
    patterns.sort();
    return patterns;
}

QFileDialog *ImportView::fileDialog()
{
    auto *dialog = new QFileDialog(this);
    // Above the caption panel, which stays on top too: shown after it, it comes over it.
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog->setModal(true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("生成字幕"));
    dialog->setNameFilter(QStringLiteral("音频和视频文件 (%1)").arg(mediaPatterns().join(u' ')));
    // Not the process's working folder, which is wherever the desktop started the app.
    const QString folders[] = {m_lastFolder, QStandardPaths::writableLocation(QStandardPaths::MoviesLocation),
                               QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)};
    QString start = QDir::homePath();
    for (const QString &folder : folders) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            start = folder;
            break;
        }
    }
    dialog->setDirectory(start);
    return dialog;
}

void ImportView::pick()
{
    QPointer<QFileDialog> dialog = fileDialog();
    const int result = dialog->exec();
    // The page (the dialog's parent) may have gone while the dialog was open.
    if (!dialog)
        return;
    const QList<QUrl> chosen = dialog->selectedUrls();
    delete dialog;
    if (result == QDialog::Accepted && !chosen.isEmpty()) {
        if (chosen.first().isLocalFile())
            m_lastFolder = QFileInfo(chosen.first().toLocalFile()).absolutePath();
        m_importer.start(chosen.first());
    }
}

bool ImportView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_headlineLabel && event->type() == QEvent::Resize)
        fitHeadline();
    return QWidget::eventFilter(watched, event);
}

void ImportView::fitHeadline()
{
    const int width = m_headlineLabel->contentsRect().width();
    m_headlineLabel->setText(width > 0
        ? m_headlineLabel->fontMetrics().elidedText(m_headline, Qt::ElideRight, width)
        : m_headline);
}
