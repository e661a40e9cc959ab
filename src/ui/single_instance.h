// One running instance per user: a lock file in the user's runtime folder and a local socket beside
// it, through which a new instance asks the running one to come forward (or, in plug-in mode, to
// close). A lock left behind by a killed process is taken over.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class QWidget;

namespace ui {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        kStarted,     // this process is the running instance now
        kOtherRaised, // a regular instance runs and has come forward
        kGaveUp,      // another instance runs and did not make way in time
    };

    // name: the base of the lock file's and the socket's names; DefaultName() unless a test sets one.
    explicit SingleInstance(const QString& name = DefaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "velloray-<user id>", or the value of VELLORAY_INSTANCE when that is set.
    static QString DefaultName();
    QString LockPath() const { return fLockPath; }
    QString SocketPath() const { return fSocketPath; }

    // Takes the lock, or asks the instance that holds it. One that answers "closing" is given
    // closeWait to go; one that does not answer is asked again a few times, with a pause between.
    Outcome Acquire(std::chrono::milliseconds closeWait = std::chrono::seconds(10));

    // Starts answering new instances ("raised", or "closing" in plug-in mode) and emits
    // otherInstanceStarted after each answer. Needs the lock.
    bool Listen(bool pluginMode);

signals:
    void otherInstanceStarted();

private:
    enum class Answer { kNone, kRaised, kClosing };
    Answer AskRunningInstance() const;
    void AnswerNewInstance();

    QString fLockPath;
    QString fSocketPath;
    QLockFile fLock;
    QLocalServer fServer;
    bool fPluginMode = false;
};

// The running instance's reaction to a new one: restore and raise the main window; in plug-in mode
// then close it through closeMainWindow (which lets a conversion run finish first).
void ReactToOtherInstance(QWidget& mainWindow, bool pluginMode, const std::function<void()>& closeMainWindow);

} // namespace ui
