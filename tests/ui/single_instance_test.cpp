#include "ui/single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QWidget>
#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace {

using Outcome = ui::SingleInstance::Outcome;
using namespace std::chrono_literals;

QString UniqueName() { return "velloray-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces); }

// A new instance starting in another thread while this one keeps handling events.
Outcome StartSecond(const QString& name, std::chrono::milliseconds closeWait)
{
    auto second = std::async(std::launch::async, [&] { return ui::SingleInstance(name).Acquire(closeWait); });
    const QDeadlineTimer deadline(20s);
    while (second.wait_for(5ms) != std::future_status::ready && !deadline.hasExpired())
        QCoreApplication::processEvents();
    return second.get();
}

TEST(SingleInstance, TheRunningInstanceAnswersAndMakesWayOnlyInPluginMode)
{
    const QString name = UniqueName();
    {
        ui::SingleInstance regular(name);
        ASSERT_EQ(regular.Acquire(), Outcome::kStarted);
        ASSERT_TRUE(regular.Listen(false));
        QSignalSpy asked(&regular, &ui::SingleInstance::otherInstanceStarted);
        EXPECT_EQ(StartSecond(name, 1s), Outcome::kOtherRaised);
        EXPECT_EQ(asked.count(), 1);
    }
    {
        // A plug-in instance says it is closing and goes a little later: the new one starts.
        auto plugin = std::make_unique<ui::SingleInstance>(name);
        ASSERT_EQ(plugin->Acquire(), Outcome::kStarted);
        ASSERT_TRUE(plugin->Listen(true));
        QObject::connect(plugin.get(), &ui::SingleInstance::otherInstanceStarted, qApp, [&plugin] {
            QMetaObject::invokeMethod(qApp, [&plugin] { plugin.reset(); }, Qt::QueuedConnection);
        });
        EXPECT_EQ(StartSecond(name, 5s), Outcome::kStarted);
        EXPECT_EQ(plugin, nullptr);
    }
    {
        // One that says it is closing but stays, and one that holds the lock without answering,
        // are waited for a bounded time only.
        ui::SingleInstance stuck(name);
        ASSERT_EQ(stuck.Acquire(), Outcome::kStarted);
        ASSERT_TRUE(stuck.Listen(true));
        const QDeadlineTimer bound(10s);
        EXPECT_EQ(StartSecond(name, 300ms), Outcome::kGaveUp);
        QFile::remove(stuck.SocketPath());
        EXPECT_EQ(StartSecond(name, 300ms), Outcome::kGaveUp);
        EXPECT_FALSE(bound.hasExpired());
    }
}

TEST(SingleInstance, ALockLeftByADeadProcessDoesNotBlock)
{
    const QString name = UniqueName();
    ui::SingleInstance probe(name);
    QByteArray lock;
    {
        ui::SingleInstance owner(name);
        ASSERT_EQ(owner.Acquire(), Outcome::kStarted);
        QFile file(owner.LockPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        lock = file.readAll();
    }
    // The same lock, but owned by a process that has ended.
    QProcess gone;
    gone.start("true", {});
    ASSERT_TRUE(gone.waitForStarted());
    const QByteArray deadPid = QByteArray::number(gone.processId());
    ASSERT_TRUE(gone.waitForFinished());
    lock = deadPid + lock.mid(lock.indexOf('\n'));
    QFile file(probe.LockPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lock);
    file.close();
    EXPECT_EQ(probe.Acquire(1s), Outcome::kStarted);
    EXPECT_TRUE(probe.Listen(false));
}

TEST(SingleInstance, RunningWindowIsRestoredRaisedOrClosed)
{
    QWidget window;
    window.showMinimized();
    int closes = 0;
    ui::ReactToOtherInstance(window, false, [&] { ++closes; });
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(closes, 0);
    ui::ReactToOtherInstance(window, true, [&] { ++closes; });
    EXPECT_EQ(closes, 1);
}

} // namespace
