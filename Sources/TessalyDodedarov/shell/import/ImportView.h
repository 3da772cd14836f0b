#pragma once

#include "records/MediaImporter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <optional>

class ImportDropZone;
class QFileDialog;
class QLabel;
class QPushButton;

// The import window's page: a drop zone and a file button to choose a media file, the stage of
// the running import with its cancel button, and once it has finished the summary with buttons
// that open or reveal the files written. It holds no import logic: it shows the importer's
// published values and calls its start() and cancel(). Closing the window leaves the job alone.
//
// Every text that comes from the importer (file name, summary, failure message) is plain text:
// a file may well be named "<b>x</b>.mp4".
class ImportView final : public QWidget {
    Q_OBJECT

public:
    // What the page shows: the importer's published values.
    struct Shown {
        MediaImporter::Stage stage;
        QString fileName;
        QList<QUrl> outputs;
        QString summary;
    };

    explicit ImportView(MediaImporter &importer, QWidget *parent = nullptr);

    // Draws the values; the importer's change signals call it with its current ones.
    void apply(const Shown &shown);

    // The file a drop imports: the first local file among the URLs, when the job is free. None
    // refuses the drop. The file's type is left to the importer, which reports what it can't use.
    static std::optional<QUrl> dropTarget(const QList<QUrl> &urls, bool busy);

    // The glob patterns of every audio and video type the system knows, for the file dialog.
    static QStringList mediaPatterns();
    // A new modal dialog choosing one existing media file, owned by the page. It opens in the
    // folder of the file chosen last, else in the user's videos or documents folder.
    QFileDialog *fileDialog();
    // Shows the file dialog and starts an import of the chosen file.
    void pick();

    // The window's size for what the page shows now: 480 x 320, or more where the interface
    // font needs it (the finished block and the explanation wrap onto more lines at 11 pt).
    static constexpr QSize baseSize {480, 320};
    QSize fittingSize() const;

    // The headline as a whole, before it is cut to fit its line.
    QString headline() const { return m_headline; }
    ImportDropZone *dropZone() const { return m_zone; }

    static inline const QString explanation = QStringLiteral(
        "用 ElevenLabs 整段转写（带时间、区分说话人，按音频时长计费），再用当前的翻译服务译成中文。"
        "术语表和本场背景里的人名、术语会一起用上。字幕存成“文件名.双语.srt”（中文在上、原文在下），"
        "另有一份文稿 txt，放在原文件旁边。");

signals:
    // What the page shows changed; its fitting size may have too.
    void contentChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    bool drop(const QList<QUrl> &urls);
    void fitHeadline();

    MediaImporter &m_importer;
    Shown m_shown;
    QString m_headline;
    // Where the last file chosen with the dialog lies.
    QString m_lastFolder;

    ImportDropZone *m_zone = nullptr;
    QLabel *m_headlineLabel = nullptr;
    QPushButton *m_pick = nullptr;

    QWidget *m_progress = nullptr;
    QLabel *m_progressText = nullptr;

    QLabel *m_failure = nullptr;

    QWidget *m_finished = nullptr;
    QLabel *m_finishedTitle = nullptr;
    QLabel *m_summary = nullptr;
    QPushButton *m_openSubtitles = nullptr;
    QPushButton *m_openTranscript = nullptr;
};
