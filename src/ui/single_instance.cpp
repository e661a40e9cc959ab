#include "ui/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include <unistd.h>

namespace ui {
namespace {

constexpr char kRequest[] = "Vrel\n";
constexpr char kRaised[] = "raised\n";
constexpr char kClosing[] = "closing\n";
constexpr int kAskTries = 20;
constexpr int kPauseBetweenTriesMs = 100;
constexpr int kConnectWaitMs = 500;
constexpr int kAnswerWaitMs = 2000;

// $XDG_RUNTIME_DIR belongs to the user alone; without it the names carry the user id.
QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath();
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), fLockPath(RuntimeFolder() + '/' + name + ".lock"),
      fSocketPath(RuntimeFolder() + '/' + name + ".socket"), fLock(fLockPath)
{
    // Only a dead owner makes the lock stale, never its age: the program may run for days.
    fLock.setStaleLockTime(0);
    fServer.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&fServer, &QLocalServer::newConnection, this, [this] { AnswerNewInstance(); });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultName()
{
    const QString name = qEnvironmentVariable("VELLORAY_INSTANCE");
    return name.isEmpty() ? QStringLiteral("velloray-%1").arg(getuid()) : name;
}

SingleInstance::Outcome SingleInstance::Acquire(std::chrono::milliseconds closeWait)
{
    for (int attempt = 0; attempt < kAskTries; ++attempt) {
        if (fLock.tryLock(0)) return Outcome::kStarted;
        switch (AskRunningInstance()) {
        case Answer::kRaised:
            return Outcome::kOtherRaised;
        case Answer::kClosing:
            return fLock.tryLock(static_cast<int>(closeWait.count())) ? Outcome::kStarted : Outcome::kGaveUp;
        case Answer::kNone: // the holder is still starting (no socket yet), or stuck
            QThread::msleep(kPauseBetweenTriesMs);
            break;
        }
    }
    return Outcome::kGaveUp;
}

SingleInstance::Answer SingleInstance::AskRunningInstance() const
{
    QLocalSocket socket;
    socket.connectToServer(fSocketPath);
    if (!socket.waitForConnected(kConnectWaitMs)) return Answer::kNone;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(kConnectWaitMs)) return Answer::kNone;
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < 64 && socket.waitForReadyRead(kAnswerWaitMs))
        answer += socket.readAll();
    if (answer == kRaised) return Answer::kRaised;
    if (answer == kClosing) return Answer::kClosing;
    return Answer::kNone;
}

bool SingleInstance::Listen(bool pluginMode)
{
    if (!fLock.isLocked()) return false;
    fPluginMode = pluginMode;
    // A socket file left by a killed instance would block listening; the lock says it is ours now.
    QLocalServer::removeServer(fSocketPath);
    return fServer.listen(fSocketPath);
}

void SingleInstance::AnswerNewInstance()
{
    while (QLocalSocket* socket = fServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64) socket->disconnectFromServer();
                return;
            }
            const bool request = socket->readLine() == kRequest;
            if (request) socket->write(fPluginMode ? kClosing : kRaised);
            socket->disconnectFromServer(); // sends what was written first
            if (request) emit otherInstanceStarted();
        });
    }
}

void ReactToOtherInstance(QWidget& mainWindow, bool pluginMode, const std::function<void()>& closeMainWindow)
{
    mainWindow.setWindowState((mainWindow.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    mainWindow.show();
    if (pluginMode) {
        closeMainWindow();
        return;
    }
    mainWindow.raise();
    mainWindow.activateWindow();
}

} // namespace ui
