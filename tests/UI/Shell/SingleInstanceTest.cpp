#include "UI/Shell/SingleInstance.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

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

} // namespace
} // namespace pallix
