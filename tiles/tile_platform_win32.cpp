// The tile platform services on Win32, as the product uses them: a critical section, the tick
// count, a semaphore for the loaders' wake-up (with one loader it behaves as an auto-reset
// event) and loader threads with small stacks.
#include "tiles/tile_platform.h"

#include <windows.h>

#include "tiles/tile_cache.h"

namespace {
// Initialised on first use: the tests and the viewer enter the lock from the main thread
// before or after the loaders start, and always after the process's static constructors.
CRITICAL_SECTION queue_section;
INIT_ONCE queue_section_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK initialise_queue_section(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&queue_section);
    return TRUE;
}

HANDLE loader_wake = nullptr;
HANDLE loader_threads[MAX_TILE_LOADERS] = {};
LoaderThreadEntry thread_entries[MAX_TILE_LOADERS] = {};

// Each loader needs no more: the decoder's state lives on the heap.
constexpr SIZE_T LOADER_STACK_BYTES = 8192;

DWORD WINAPI loader_thread_main(LPVOID parameter) {
    const int32_t slot = static_cast<int32_t>(reinterpret_cast<INT_PTR>(parameter));
    thread_entries[slot](slot);
    return 0;
}
}  // namespace

void enter_queue_lock() {
    InitOnceExecuteOnce(&queue_section_once, initialise_queue_section, nullptr, nullptr);
    EnterCriticalSection(&queue_section);
}

void leave_queue_lock() { LeaveCriticalSection(&queue_section); }

uint32_t tile_tick() { return GetTickCount(); }

void create_loader_wake(int32_t max_signals) {
    if (loader_wake == nullptr)
        loader_wake = CreateSemaphoreA(nullptr, 0, max_signals < 1 ? 1 : max_signals, nullptr);
}

void signal_loader_wake() {
    // At the cap the call fails and changes nothing: enough loaders are woken already.
    if (loader_wake != nullptr) ReleaseSemaphore(loader_wake, 1, nullptr);
}

bool wait_loader_wake(uint32_t timeout_ms) {
    if (loader_wake == nullptr) return false;
    return WaitForSingleObject(loader_wake, timeout_ms) == WAIT_OBJECT_0;
}

bool start_loader_thread(int32_t slot, LoaderThreadEntry entry) {
    if (slot < 0 || slot >= MAX_TILE_LOADERS || loader_threads[slot] != nullptr) return false;
    thread_entries[slot] = entry;
    loader_threads[slot] =
        CreateThread(nullptr, LOADER_STACK_BYTES, loader_thread_main,
                     reinterpret_cast<LPVOID>(static_cast<INT_PTR>(slot)), 0, nullptr);
    if (loader_threads[slot] == nullptr) return false;
    // One loader above the window, as ever, so a view starts filling at once; the others at
    // the window's priority, so that on a machine whose every processor decodes, the window
    // still takes and draws the arriving tiles.
    SetThreadPriority(loader_threads[slot],
                      slot == 0 ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL);
    return true;
}

bool join_loader_thread(int32_t slot, uint32_t timeout_ms) {
    if (slot < 0 || slot >= MAX_TILE_LOADERS || loader_threads[slot] == nullptr) return true;
    if (WaitForSingleObject(loader_threads[slot], timeout_ms) != WAIT_OBJECT_0) return false;
    CloseHandle(loader_threads[slot]);
    loader_threads[slot] = nullptr;
    return true;
}

int32_t logical_processor_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1 ? 1 : static_cast<int32_t>(info.dwNumberOfProcessors);
}
