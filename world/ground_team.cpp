#include "ground_team.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// How long the helper looks for the next draw before it sleeps, when draws
// come back to back: longer than the gap between frames drawn back to back,
// far shorter than a frame shown on the screen.
constexpr auto HelperSpin = std::chrono::microseconds(50);

void Pause()
{
#if defined(__x86_64__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

int StartingThreads()
{
    const char* forced = std::getenv("GROUNDVIEW_GROUND_THREADS");
    if (forced && (std::strcmp(forced, "1") == 0 || std::strcmp(forced, "2") == 0))
        return forced[0] - '0';
    return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

std::atomic<int>& ThreadsInUse()
{
    static std::atomic<int> threads{StartingThreads()};
    return threads;
}

// The drawing thread and the helper share one word that names the draw
// (its number) and the chunks not yet claimed; a chunk is claimed by moving
// that word on, so each runs exactly once, and a late helper can never claim
// a chunk of a draw that is over.
class Team {
public:
    uint64_t HelperChunks() const
    {
        return helperChunks_.load(std::memory_order_relaxed);
    }

    ~Team()
    {
        {
            std::lock_guard<std::mutex> lock(sleepLock_);
            quit_.store(true);
        }
        wake_.notify_one();
        if (helper_.joinable())
            helper_.join();
    }

    void Run(GroundChunk chunk, void* context, int chunks)
    {
        std::unique_lock<std::mutex> running(runLock_, std::try_to_lock);
        if (!running || chunks < 2 || chunks > 0xFFFF || !HelperStarted()) {
            // Another draw holds the helper, or there is nothing to share.
            for (int i = 0; i < chunks; ++i)
                chunk(context, i);
            return;
        }

        chunk_ = chunk;
        context_ = context;
        helperDone_.store(0, std::memory_order_relaxed);
        if (++job_ == 0)
            ++job_;  // 0 is the helper's "no draw yet"
        claim_.store(uint64_t{job_} << 32 | uint64_t(chunks) << 16);
        // A sleeping helper is woken only while drawing keeps the drawing
        // thread busy: when the gap since the last draw is shorter than that
        // draw (or than the helper's own wait). For one draw now and then (a
        // frame shown on a screen) waking it costs more than it gives, and
        // the drawing thread draws alone.
        const Clock::time_point start = Clock::now();
        if (start - lastEnd_ < std::max<Clock::duration>(HelperSpin, lastEnd_ - lastStart_) && asleep_.load()) {
            std::lock_guard<std::mutex> lock(sleepLock_);
            wake_.notify_one();
        }

        int mine = 0;
        for (int i; (i = Claim(job_, true)) >= 0; ++mine)
            chunk(context, i);
        while (helperDone_.load(std::memory_order_acquire) != chunks - mine)
            Pause();
        lastStart_ = start;
        lastEnd_ = Clock::now();
    }

private:
    bool HelperStarted()
    {
        if (helperFailed_)
            return false;
        if (!helper_.joinable()) {
            try {
                helper_ = std::thread([this] { Help(); });
            } catch (const std::system_error&) {
                helperFailed_ = true;  // one thread draws everything
                return false;
            }
        }
        return true;
    }

    // A chunk of draw `job` not yet claimed, claimed; -1 when none is left.
    // The drawing thread takes them from the first on, the helper from the
    // last back, so that from one draw to the next each thread mostly draws
    // the same rows and finds them in its own cache.
    int Claim(uint32_t job, bool fromFront)
    {
        uint64_t word = claim_.load(std::memory_order_acquire);
        for (;;) {
            const int back = static_cast<int>(word >> 16 & 0xFFFF);
            const int front = static_cast<int>(word & 0xFFFF);
            if (static_cast<uint32_t>(word >> 32) != job || front >= back)
                return -1;
            const uint64_t claimed = fromFront ? word + 1 : word - (uint64_t{1} << 16);
            if (claim_.compare_exchange_weak(word, claimed, std::memory_order_acq_rel, std::memory_order_acquire))
                return fromFront ? front : back - 1;
        }
    }

    uint32_t CurrentJob() const
    {
        return static_cast<uint32_t>(claim_.load() >> 32);
    }

    void Help()
    {
        uint32_t seen = 0;
        // Whether draws come back to back: only then is the next one worth
        // waiting for awake. Draws further apart (frames shown on a screen)
        // find the helper asleep, and it costs nothing in between.
        bool backToBack = true;
        for (;;) {
            const Clock::time_point finished = Clock::now();
            for (int spins = 0; backToBack && CurrentJob() == seen && !quit_.load(std::memory_order_relaxed);
                 ++spins) {
                Pause();
                if (spins % 64 == 63 && Clock::now() - finished > HelperSpin)
                    break;
            }
            if (CurrentJob() == seen) {
                std::unique_lock<std::mutex> lock(sleepLock_);
                asleep_.store(true);
                wake_.wait(lock, [&] { return CurrentJob() != seen || quit_.load(); });
                asleep_.store(false);
            }
            backToBack = Clock::now() - finished < HelperSpin;
            if (quit_.load())
                return;
            seen = CurrentJob();
            for (int i; (i = Claim(seen, false)) >= 0;) {
                // Claimed, so the draw waits for this chunk: what it set up
                // stays in place until the chunk is counted done.
                chunk_(context_, i);
                helperDone_.fetch_add(1, std::memory_order_release);
                helperChunks_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }

    std::mutex runLock_;  // one draw at a time uses the helper
    uint32_t job_ = 0;
    Clock::time_point lastStart_;  // when the last draw began
    Clock::time_point lastEnd_;    // and ended
    GroundChunk chunk_ = nullptr;
    void* context_ = nullptr;
    // job << 32 | back << 16 | front: chunks front to back - 1 are unclaimed
    std::atomic<uint64_t> claim_{0};
    std::atomic<int> helperDone_{0};  // chunks the helper finished
    std::atomic<uint64_t> helperChunks_{0};  // and in all draws so far
    std::mutex sleepLock_;
    std::condition_variable wake_;
    std::atomic<bool> asleep_{false};
    std::atomic<bool> quit_{false};
    bool helperFailed_ = false;
    std::thread helper_;
};

Team& TheTeam()
{
    static Team team;
    return team;
}

}  // namespace

int GroundThreadsInUse()
{
    return ThreadsInUse().load(std::memory_order_relaxed);
}

bool SetGroundThreads(int threads)
{
    if (threads != 1 && threads != 2)
        return false;
    ThreadsInUse().store(threads, std::memory_order_relaxed);
    return true;
}

uint64_t GroundHelperChunks()
{
    return TheTeam().HelperChunks();
}

void RunGroundChunks(GroundChunk chunk, void* context, int chunks)
{
    if (GroundThreadsInUse() == 1) {
        for (int i = 0; i < chunks; ++i)
            chunk(context, i);
        return;
    }
    TheTeam().Run(chunk, context, chunks);
}
