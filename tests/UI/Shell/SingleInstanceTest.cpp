#include "UI/Shell/SingleInstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace pallix {
namespace {

TEST(SingleInstance, ASecondStartHandsOverAndTheFirstIsAskedToShowItself)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pallix.socket"));
    SingleInstance first(path);
    EXPECT_FALSE(first.handOver());  // nobody is running yet
    ASSERT_TRUE(first.listen());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    SingleInstance second(path);
    EXPECT_TRUE(second.handOver());
    EXPECT_TRUE(activations.wait(5000));
    EXPECT_FALSE(second.listen());  // the running one keeps its socket
}

TEST(SingleInstance, ASocketLeftByACrashedInstanceIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pallix.socket"));
    {
        QFile stale(path);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance next(path);
    EXPECT_FALSE(next.handOver());
    ASSERT_TRUE(next.listen());
    QSignalSpy activations(&next, &SingleInstance::activationRequested);
    EXPECT_TRUE(SingleInstance(path).handOver());
    EXPECT_TRUE(activations.wait(5000));
}

TEST(SingleInstance, AToggleRequestIsToldApartFromShow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pallix.socket"));
    SingleInstance running(path);
    ASSERT_TRUE(running.listen());
    QSignalSpy shows(&running, &SingleInstance::activationRequested);
    QSignalSpy toggles(&running, &SingleInstance::toggleRequested);
    EXPECT_TRUE(SingleInstance(path).handOver(SingleInstance::Request::Toggle));
    ASSERT_TRUE(toggles.wait(5000));
    EXPECT_TRUE(SingleInstance(path).handOver());
    ASSERT_TRUE(shows.wait(5000));
    EXPECT_EQ(toggles.count(), 1);
    EXPECT_EQ(shows.count(), 1);
}

// The command a desktop without a global-shortcut service binds to a key,
// run for real: it hands the toggle to the running 珀溪 and ends; with none
// running it starts 珀溪 itself.
struct PallixCommand : testing::Test {
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        for (const char* folder : {"runtime", "config", "data", "cache"})
            ASSERT_TRUE(QDir(home.path()).mkpath(QString::fromLatin1(folder)));
        QFile::setPermissions(home.filePath("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                            | QFileDevice::ExeOwner);
        environment.insert("HOME", home.path());
        environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_DATA_HOME", home.filePath("data"));
        environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    QString socketPath() const { return home.filePath("runtime/pallix.socket"); }
    void start(QProcess& process, const QStringList& arguments)
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(PALLIX_EXECUTABLE), arguments);
    }
};

TEST_F(PallixCommand, ToggleHandsOverToTheRunningInstance)
{
    SingleInstance running(socketPath());
    ASSERT_TRUE(running.listen());
    QSignalSpy shows(&running, &SingleInstance::activationRequested);
    QSignalSpy toggles(&running, &SingleInstance::toggleRequested);

    QProcess toggle;
    start(toggle, {QStringLiteral("--toggle")});
    ASSERT_TRUE(toggles.wait(30000));
    ASSERT_TRUE(toggle.waitForFinished(30000));
    EXPECT_EQ(toggle.exitCode(), 0);

    QProcess plain;  // a second start without the option only asks to show
    start(plain, {});
    ASSERT_TRUE(shows.wait(30000));
    ASSERT_TRUE(plain.waitForFinished(30000));
    EXPECT_EQ(plain.exitCode(), 0);
    EXPECT_EQ(toggles.count(), 1);
}

TEST_F(PallixCommand, ToggleWithNoneRunningStartsPallix)
{
    QProcess pallix;
    start(pallix, {QStringLiteral("--toggle")});
    ASSERT_TRUE(pallix.waitForStarted(30000));
    // It became the running instance: it takes a hand-over and keeps running.
    EXPECT_TRUE(QTest::qWaitFor([&] { return SingleInstance(socketPath()).handOver(); }, 60000));
    EXPECT_EQ(pallix.state(), QProcess::Running);
    pallix.terminate();
    EXPECT_TRUE(pallix.waitForFinished(30000));
}

} // namespace
} // namespace pallix
