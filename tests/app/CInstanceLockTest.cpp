#include "AppTestSupport.h"

#include "app/CInstanceLock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Result = CInstanceLock::Result;

class CInstanceLockTest : public ::testing::Test {
protected:
    std::string name = uniqueInstanceName();
};

TEST_F(CInstanceLockTest, OnlyOneHolderAtATimeAndReleaseLetsTheNextIn) {
    CInstanceLock first;
    CInstanceLock second;
    ASSERT_EQ(first.tryLock(name), Result::Taken);
    EXPECT_EQ(second.tryLock(name), Result::HeldElsewhere);
    EXPECT_FALSE(second.isHeld());
    first.release();
    EXPECT_EQ(second.tryLock(name), Result::Taken);
}

TEST_F(CInstanceLockTest, ANameThatCannotBeTriedIsAFailureNotAnotherCopy) {
    CInstanceLock lock;
    EXPECT_EQ(lock.tryLock(std::string()), Result::Failed);
    EXPECT_EQ(lock.tryLock(std::string(200, 'x')), Result::Failed);
    EXPECT_FALSE(lock.isHeld());
}

// A terminal killed while it holds the lock must not keep the next start out.
TEST_F(CInstanceLockTest, TheLockDoesNotOutliveAKilledHolder) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CInstanceLock lock;
        const char answer = lock.tryLock(name) == Result::Taken ? 'y' : 'n';
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
    EXPECT_EQ(mine.tryLock(name), Result::HeldElsewhere);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(mine.tryLock(name), Result::Taken);
}

} // namespace
