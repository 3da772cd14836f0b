#pragma once

#include "accounts/KeyProvider.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class QBoxLayout;
class QColor;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QVBoxLayout;

// The page of the settings window: a header, nine titled cards and a footer, in a scrolling
// page of fixed size. It keeps no copy of any setting: every control reads the model when the
// model notifies and writes through the model's setters and operations. What it does own is
// view state: the text typed into the key fields and the outcome of the last update check,
// which survive closing the window because the controller keeps the one view.
//
// Split by concern: SettingsView.cpp (frame, header, card, note, footer), SettingsKeys.cpp,
// SettingsSound.cpp, SettingsTranslation.cpp, SettingsAppearance.cpp, SettingsDisplay.cpp,
// SettingsStats.cpp, SettingsAbout.cpp.
class SettingsView final : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int pageWidth = 500;
    static constexpr int pageHeight = 700;

    explicit SettingsView(AppModel &model, QWidget *parent = nullptr);
    ~SettingsView() override;

    // The section titles in page order, and the symbol of a title ("circle" when unknown).
    static const QStringList &sectionTitles();
    static QString sectionSymbol(const QString &title);

    // A titled card holding content; a help, status or summary line. Both are what every
    // section is built from; public so that tests can check the shared look.
    static QWidget *section(const QString &title, QWidget *content);
    static QLabel *note(const QString &text, bool warning);
    // Rewrites a note's text and colour in place.
    static void setNote(QLabel *label, const QString &text, bool warning);

    static QColor warningColor();
    static QColor okColor();
    static QColor secondaryColor();

    // View state of the about section.
    bool updateChecking() const { return m_updateChecking; }
    std::optional<QString> updateMessage() const { return m_updateMessage; }
    std::optional<QUrl> updateURL() const { return m_updateURL; }
    void checkForUpdate();
    void sendFeedback();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The slider, drop-down or spin box that holds `widget` inside the page, or none.
    QWidget *valueControl(QWidget *widget) const;
    static void keepWheelFocus(QWidget *control);

    // The version shown in the header and the about section.
    static QString versionText();
    QWidget *header();
    QWidget *footer();

    // Sections; each builds its widgets once and registers a refresh run on model changes.
    QWidget *keysSection();
    QWidget *keyRow(KeyProvider provider);
    QWidget *elevenLabsRow();
    QWidget *singleKeyRow(KeyProvider provider);
    void addElevenLabs();
    void save(KeyProvider provider);
    QWidget *audioSourceSection();
    QWidget *recognitionSection();
    QWidget *translationSection();
    QWidget *appearanceSection();
    QWidget *skinButton(int index);
    QWidget *sizeRow(const QString &title, bool chinese);
    QWidget *fontPicker(const QString &title, bool chinese);
    QWidget *colorWell(const QString &title, int which);
    QWidget *captionDisplaySection();
    QWidget *captionWindowSection();
    QWidget *statsSection();
    void refreshStats();
    QWidget *aboutSection();
    void showUpdateState();

    // Runs fn now and whenever one of the model's signals fires.
    void follow(const std::function<void()> &fn);

private slots:
    void refreshAll();

private:

    AppModel &m_model;
    QList<std::function<void()>> m_refreshers;

    // Key fields, by provider: their text is the typed, unsaved key.
    QHash<KeyProvider, QLineEdit *> m_keyInputs;

    // Statistics section.
    QTimer *m_statsTimer = nullptr;
    QWidget *m_statsBox = nullptr;

    // About section and update check.
    bool m_updateChecking = false;
    std::optional<QString> m_updateMessage;
    std::optional<QUrl> m_updateURL;
    QPushButton *m_updateButton = nullptr;
    QLabel *m_updateLabel = nullptr;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};
