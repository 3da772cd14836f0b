#pragma once

#include <QObject>

class AppDelegate;

// Built only into the application made for the test suite (DODEDAROV_TEST_SERVICES), never
// into the one users run. It lets a test drive the real binary: the service addresses come
// from the environment so that the keys go to loopback fakes, and a few read-only facts a
// test cannot see from outside are exported on the session bus as
// "com.tessalab.dodedarov.SessionProbe" at "/SessionProbe".
class SessionProbe final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tessalab.dodedarov.SessionProbe")
    Q_PROPERTY(int hotKeys READ hotKeys)
    Q_PROPERTY(bool running READ running)
    Q_PROPERTY(double chineseSize READ chineseSize)
    Q_PROPERTY(qulonglong panelWindow READ panelWindow)
    Q_PROPERTY(int historyValue READ historyValue)
    Q_PROPERTY(int historyMaximum READ historyMaximum)
    Q_PROPERTY(bool newestInView READ newestInView)
    Q_PROPERTY(QString newestText READ newestText)
    Q_PROPERTY(QString historyText READ historyText)
    Q_PROPERTY(bool keysKnown READ keysKnown)
    Q_PROPERTY(bool settingsShown READ settingsShown)

public:
    // Reads DODEDAROV_TEST_SCRIBE_URL, DODEDAROV_TEST_DEEPSEEK_URL and
    // DODEDAROV_TEST_ELEVENLABS_URL into the clients' base addresses, and trusts the certificates
    // in the file DODEDAROV_TEST_CA_FILE names; before anything connects.
    static void useTestAddresses();

    explicit SessionProbe(AppDelegate *delegate);
    // Put on the session bus once the launch is done: a test that reaches it knows the launch
    // steps (the hot keys' grabs among them) have run.
    bool publish();

    int hotKeys() const;
    bool running() const;
    double chineseSize() const;
    qulonglong panelWindow() const;
    int historyValue() const;
    int historyMaximum() const;
    // Whether the last character of the history lies wholly inside the visible viewport.
    bool newestInView() const;
    // The history's last paragraph as shown.
    QString newestText() const;
    // The whole history as plain text.
    QString historyText() const;
    // The keyring has answered the model's question for the stored keys.
    bool keysKnown() const;
    // The settings window is on screen.
    bool settingsShown() const;

private:
    AppDelegate *m_delegate;
};
