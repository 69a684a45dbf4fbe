#include "AppTestSupport.h"

#include "app/CInstanceLock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class CInstanceLockTest : public ::testing::Test {
protected:
    void TearDown() override { removeTree(folder); }

    std::string folder = makeTempFolder("poston-lock-");
    std::string path = folder + "poston.lock";
};

TEST_F(CInstanceLockTest, OnlyOneHolderAtATimeAndReleaseLetsTheNextIn) {
    CInstanceLock first;
    CInstanceLock second;
    ASSERT_TRUE(first.tryLock(path));
    EXPECT_FALSE(second.tryLock(path));
    EXPECT_FALSE(second.isHeld());
    first.release();
    EXPECT_TRUE(second.tryLock(path));
}

TEST_F(CInstanceLockTest, AnUnreachableLockFileRefuses) {
    CInstanceLock lock;
    EXPECT_FALSE(lock.tryLock(folder + "missing/poston.lock"));
}

// A terminal killed while it holds the lock must not keep the next start out.
TEST_F(CInstanceLockTest, TheLockDoesNotOutliveAKilledHolder) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CInstanceLock lock;
        const char answer = lock.tryLock(path) ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(answer, 'y');

    CInstanceLock mine;
    EXPECT_FALSE(mine.tryLock(path));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(mine.tryLock(path));
}

} // namespace
