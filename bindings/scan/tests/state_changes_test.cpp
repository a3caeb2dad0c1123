// Two threads hand a value back and forth many times through StateChanges:
// a lost wake-up hangs the test (CTest's timeout fails it), a wait that
// returns before its condition holds breaks the alternation.
#include "scan/state_changes.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace veltrane::scan {
namespace {

TEST(StateChanges, PingPongNeverLosesAWakeUp) {
    constexpr int kRounds = 20000;
    std::mutex mutex;
    StateChanges changes;
    int turn = 0;  // even: the main thread's turn; odd: the other's
    int seen_by_other = 0;

    std::thread other([&] {
        for (int round = 0; round < kRounds; ++round) {
            std::unique_lock lock(mutex);
            changes.wait(lock, [&] { return turn % 2 == 1; });
            ++seen_by_other;
            ++turn;
            lock.unlock();
            changes.notify_all();
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        std::unique_lock lock(mutex);
        changes.wait(lock, [&] { return turn % 2 == 0; });
        ASSERT_EQ(turn, 2 * round);
        ++turn;
        changes.notify_all();  // with the lock held: as good
    }
    other.join();
    EXPECT_EQ(turn, 2 * kRounds);
    EXPECT_EQ(seen_by_other, kRounds);
}

}  // namespace
}  // namespace veltrane::scan
