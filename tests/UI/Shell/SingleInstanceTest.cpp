#include "UI/Shell/SingleInstance.h"

#include <future>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace pallix {
namespace {

using namespace std::chrono_literals;
using HandOver = SingleInstance::HandOver;

// A later start, in a thread of its own: the running instance answers from
// this thread's event loop, which runs until the start has its answer.
HandOver startInAnotherThread(const QString& folder, const QString& word = QStringLiteral("show"))
{
    std::future<HandOver> start = std::async(std::launch::async, [folder, word] {
        SingleInstance later(folder);
        return later.handOver(word);
    });
    while (start.wait_for(0ms) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return start.get();
}

// A socket file at `path` bound by hand: listening (a program that never
// answers) or not (the file a crashed process left). Closed by the caller.
int unixSocketAt(const QString& path, bool listening)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    if (listening) {
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    return fd;
}

bool isSocket(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISSOCK(status.st_mode);
}

TEST(SingleInstance, ASecondStartHandsOverAndTheFirstIsAskedToShowItself)
{
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    EXPECT_EQ(first.handOver(), HandOver::NoneRunning);  // nobody is running yet
    ASSERT_TRUE(first.listen());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);
    QSignalSpy messages(&first, &SingleInstance::messageReceived);

    EXPECT_EQ(startInAnotherThread(dir.path()), HandOver::HandedOver);
    EXPECT_EQ(activations.count(), 1);
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.front().front().toString(), QStringLiteral("show"));
    SingleInstance second(dir.path());
    EXPECT_FALSE(second.listen());  // the running one keeps the lock and its socket
}

// Something that is no 珀溪 at the socket's place: a program listening there
// that never answers, or a folder. The start runs, leaves it alone, and later
// starts still hand over to it.
TEST(SingleInstance, AForeignListenerOrAFolderAtTheSocketPathIsLeftAlone)
{
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder" : "foreign listener");
        QTemporaryDir dir;
        const QString standard = dir.filePath(QStringLiteral("pallix.socket"));
        const int foreign = folder ? -1 : unixSocketAt(standard, true);
        if (folder) {
            ASSERT_TRUE(QDir().mkpath(standard));
        }

        SingleInstance first(dir.path());
        EXPECT_EQ(first.handOver(), HandOver::NoneRunning) << "no 珀溪 holds the lock";
        ASSERT_TRUE(first.listen());
        EXPECT_NE(first.socketPath(), standard);
        EXPECT_TRUE(folder ? QFileInfo(standard).isDir() : isSocket(standard)) << "never removed";

        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        EXPECT_EQ(startInAnotherThread(dir.path()), HandOver::HandedOver);
        EXPECT_EQ(activations.count(), 1);
        if (foreign >= 0)
            ::close(foreign);
    }
}

// A 珀溪 that holds the lock but is frozen: the start is told it does not
// answer, after the short wait; starting anyway takes its socket over, and a
// later start reaches the new instance.
TEST(SingleInstance, AFrozenInstanceIsReportedAndStartingAnywayTakesItsPlace)
{
    QTemporaryDir dir;
    const QString standard = dir.filePath(QStringLiteral("pallix.socket"));
    const int lock = ::open(QFile::encodeName(dir.filePath(QStringLiteral("pallix.lock"))).constData(),
                            O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const QByteArray announced = QFile::encodeName(standard) + '\n';
    ASSERT_EQ(::write(lock, announced.constData(), static_cast<std::size_t>(announced.size())), announced.size());
    const int frozen = unixSocketAt(standard, true);

    SingleInstance next(dir.path(), 150ms);
    EXPECT_EQ(next.handOver(), HandOver::NotAnswering);
    EXPECT_FALSE(next.listen()) << "the lock stays with its holder";
    ASSERT_TRUE(next.startAnyway());
    EXPECT_EQ(next.socketPath(), standard);
    QSignalSpy activations(&next, &SingleInstance::activationRequested);
    EXPECT_EQ(startInAnotherThread(dir.path()), HandOver::HandedOver);
    EXPECT_EQ(activations.count(), 1);
    ::close(frozen);
    ::close(lock);
}

TEST(SingleInstance, ASocketLeftByACrashedInstanceIsReplaced)
{
    QTemporaryDir dir;
    const QString standard = dir.filePath(QStringLiteral("pallix.socket"));
    ::close(unixSocketAt(standard, false));
    ASSERT_TRUE(isSocket(standard));
    SingleInstance next(dir.path());
    EXPECT_EQ(next.handOver(), HandOver::NoneRunning);
    ASSERT_TRUE(next.listen());
    EXPECT_EQ(next.socketPath(), standard);
    QSignalSpy activations(&next, &SingleInstance::activationRequested);
    EXPECT_EQ(startInAnotherThread(dir.path()), HandOver::HandedOver);
    EXPECT_EQ(activations.count(), 1);
}

TEST(SingleInstance, OnlyWellFormedRequestsOfOurShapeAreRead)
{
    int version = 0;
    QString word;
    EXPECT_TRUE(SingleInstance::parseRequest("pallix 1 show\n", version, word));
    EXPECT_EQ(version, 1);
    EXPECT_EQ(word, QStringLiteral("show"));
    EXPECT_TRUE(SingleInstance::parseRequest("pallix 2 toggle-window\n", version, word));
    EXPECT_EQ(version, 2);
    for (const char* bad : {"show\n", "pallix show\n", "pallix x show\n", "pallix 1 Show\n", "pallix 1 a b\n",
                            "other 1 show\n", "pallix 1 /tmp\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(SingleInstance::parseRequest(bad, version, word));
    }
}

TEST(SingleInstance, AToggleRequestIsToldApartFromShow)
{
    QTemporaryDir dir;
    SingleInstance running(dir.path());
    ASSERT_EQ(running.handOver(), HandOver::NoneRunning);
    ASSERT_TRUE(running.listen());
    QSignalSpy shows(&running, &SingleInstance::activationRequested);
    QSignalSpy toggles(&running, &SingleInstance::toggleRequested);
    EXPECT_EQ(startInAnotherThread(dir.path(), QStringLiteral("toggle")), HandOver::HandedOver);
    EXPECT_EQ(startInAnotherThread(dir.path()), HandOver::HandedOver);
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
    QString runtime() const { return home.filePath("runtime"); }
    void start(QProcess& process, const QStringList& arguments)
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(PALLIX_EXECUTABLE), arguments);
    }
};

TEST_F(PallixCommand, ToggleHandsOverToTheRunningInstance)
{
    SingleInstance running(runtime());
    ASSERT_EQ(running.handOver(), HandOver::NoneRunning);
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return startInAnotherThread(runtime()) == HandOver::HandedOver; }, 60000));
    EXPECT_EQ(pallix.state(), QProcess::Running);
    pallix.terminate();
    EXPECT_TRUE(pallix.waitForFinished(30000));
}

} // namespace
} // namespace pallix
