// The ground's second thread: every chunk of every draw runs exactly once and
// is finished when the draw returns, whether the helper is awake, asleep or
// busy with another caller's draw.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "ground_team.h"

namespace {

struct ThreadsGuard {
    int saved = GroundThreadsInUse();
    ~ThreadsGuard() { SetGroundThreads(saved); }
};

// Each chunk adds one to its own counter (plain ints: the draw's return must
// make the helper's writes visible) and notes which thread ran it.
struct Tally {
    std::vector<int> Runs;
    std::vector<std::thread::id> RunBy;
    std::chrono::microseconds Work{0};
};

void CountChunk(void* context, int chunk)
{
    Tally& tally = *static_cast<Tally*>(context);
    ++tally.Runs[chunk];
    tally.RunBy[chunk] = std::this_thread::get_id();
    if (tally.Work.count() > 0)
        std::this_thread::sleep_for(tally.Work);
}

}  // namespace

TEST(GroundTeam, ThreadCountIsOneOrTwo)
{
    ThreadsGuard guard;
    EXPECT_TRUE(SetGroundThreads(1));
    EXPECT_EQ(GroundThreadsInUse(), 1);
    EXPECT_TRUE(SetGroundThreads(2));
    EXPECT_EQ(GroundThreadsInUse(), 2);
    EXPECT_FALSE(SetGroundThreads(0));
    EXPECT_FALSE(SetGroundThreads(3));
    EXPECT_EQ(GroundThreadsInUse(), 2);
}

TEST(GroundTeam, EveryChunkRunsOnceBeforeTheDrawReturns)
{
    ThreadsGuard guard;
    std::mt19937 random(41);
    const std::thread::id self = std::this_thread::get_id();
    for (int threads = 1; threads <= 2; ++threads) {
        SetGroundThreads(threads);
        int byHelper = 0;
        for (int job = 0; job < 3000; ++job) {
            Tally tally;
            const int chunks = static_cast<int>(random() % 40);
            tally.Runs.assign(chunks, 0);
            tally.RunBy.assign(chunks, std::thread::id());
            // Some draws slow enough for the helper to join in; now and
            // then a pause long enough for it to fall asleep.
            if (job % 10 == 0)
                tally.Work = std::chrono::microseconds(200);
            if (job % 50 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            RunGroundChunks(CountChunk, &tally, chunks);
            for (int chunk = 0; chunk < chunks; ++chunk) {
                ASSERT_EQ(tally.Runs[chunk], 1) << "job " << job << " chunk " << chunk << " of " << chunks;
                byHelper += tally.RunBy[chunk] != self;
            }
        }
        if (threads == 1) {
            EXPECT_EQ(byHelper, 0);
        } else {
            EXPECT_GT(byHelper, 0) << "the helper never took a chunk";
        }
    }
}

TEST(GroundTeam, DrawsFromSeveralThreadsTakeTurns)
{
    ThreadsGuard guard;
    SetGroundThreads(2);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 3; ++caller) {
        callers.emplace_back([&wrong, caller] {
            std::mt19937 random(caller);
            for (int job = 0; job < 2000; ++job) {
                Tally tally;
                const int chunks = 1 + static_cast<int>(random() % 30);
                tally.Runs.assign(chunks, 0);
                tally.RunBy.assign(chunks, std::thread::id());
                RunGroundChunks(CountChunk, &tally, chunks);
                for (int runs : tally.Runs)
                    wrong += runs != 1;
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(wrong.load(), 0);
}
