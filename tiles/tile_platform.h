// The operating-system services under the tile queues and the loader threads: the queue lock,
// the millisecond clock, the loaders' wake-up signal and the loader threads themselves. The
// product implements them with Win32 (tile_platform_win32.cpp); native tests and benchmarks
// with the C++ standard library (tile_platform_std.cpp), so that the queue, de-duplication,
// hand-over and spare-buffer logic above them also runs under ASan and ThreadSanitizer.
#pragma once
#include <cstdint>

// The queue lock (a Win32 critical section): guards both queues, the requests in flight, the
// delivered tiles, the spare buffers and the loaders' wake-up counts. A thread that holds it
// may enter it again (tests hold the loaders off while they call functions that lock).
void enter_queue_lock();
void leave_queue_lock();

// Milliseconds since some start, wrapping (GetTickCount).
uint32_t tile_tick();

// The loaders' wake-up: a counting signal (a semaphore) holding at most `max_signals` signals.
// Made once, before any loader starts; each signal lets one waiting loader go.
void create_loader_wake(int32_t max_signals);
void signal_loader_wake();
// Waits at most `timeout_ms` for a signal; true when one was taken, false on the time-out.
bool wait_loader_wake(uint32_t timeout_ms);

// Loader threads, one per slot (0 .. MAX_TILE_LOADERS - 1). start_loader_thread runs
// entry(slot) on a new thread; slot 0 runs above the window's priority, as the one loader of
// earlier versions did, the others at the window's own. join_loader_thread waits at most
// `timeout_ms` for the thread of `slot` to end and lets go of it; true when it ended (or none
// was started).
using LoaderThreadEntry = void (*)(int32_t slot);
bool start_loader_thread(int32_t slot, LoaderThreadEntry entry);
bool join_loader_thread(int32_t slot, uint32_t timeout_ms);

// Logical processors of this machine (at least 1).
int32_t logical_processor_count();
