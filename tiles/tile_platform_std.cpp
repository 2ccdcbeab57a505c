// The tile platform services on the C++ standard library: for the native tests and benchmarks
// of the queues and the loader pool (under ASan and ThreadSanitizer). Thread priorities and
// stack sizes are left to the system here.
#include "tiles/tile_platform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tiles/tile_cache.h"

namespace {
std::recursive_mutex queue_mutex;

// The wake-up signal: a count under its own mutex, capped at wake_capacity.
std::mutex wake_mutex;
std::condition_variable wake_condition;
int32_t wake_signals = 0;
int32_t wake_capacity = 1;

std::thread loader_threads[MAX_TILE_LOADERS];
}  // namespace

void enter_queue_lock() { queue_mutex.lock(); }
void leave_queue_lock() { queue_mutex.unlock(); }

uint32_t tile_tick() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void create_loader_wake(int32_t max_signals) {
    std::lock_guard<std::mutex> hold(wake_mutex);
    wake_signals = 0;
    wake_capacity = max_signals < 1 ? 1 : max_signals;
}

void signal_loader_wake() {
    {
        std::lock_guard<std::mutex> hold(wake_mutex);
        if (wake_signals >= wake_capacity) return;
        ++wake_signals;
    }
    wake_condition.notify_one();
}

bool wait_loader_wake(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(wake_mutex);
    if (!wake_condition.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                 [] { return wake_signals > 0; }))
        return false;
    --wake_signals;
    return true;
}

bool start_loader_thread(int32_t slot, LoaderThreadEntry entry) {
    if (slot < 0 || slot >= MAX_TILE_LOADERS) return false;
    // A thread object still holding a thread that nobody joined ends the program here
    // (std::terminate), so a stop that forgot a loader cannot go unnoticed.
    loader_threads[slot] = std::thread(entry, slot);
    return true;
}

bool join_loader_thread(int32_t slot, uint32_t) {
    // std::thread has no timed join; the tests that use this wait as long as it takes.
    if (slot < 0 || slot >= MAX_TILE_LOADERS || !loader_threads[slot].joinable()) return true;
    loader_threads[slot].join();
    return true;
}

int32_t logical_processor_count() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : static_cast<int32_t>(count);
}
