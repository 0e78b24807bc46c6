// Running a call on the main (user-interface) thread from a worker thread.
// The worker queues the call and waits; the main thread runs pending calls
// in CheckSynchronize, which a wake callback prompts it to do.
#pragma once

#include <functional>

namespace vellum::gui {

// The thread whose CheckSynchronize runs queued calls; the first thread that
// asks (normally the one that loads the module) unless set.
unsigned long MainThreadId();
void SetMainThreadId(unsigned long thread_id);

// Runs `call` on the main thread and waits for it; on the main thread it runs
// at once. An exception thrown by `call` is thrown again in the caller.
void Synchronize(const std::function<void()>& call);
// Runs every queued call; answers whether there were any. Main thread only.
bool CheckSynchronize();

// Called (from the worker) whenever a call is queued, so the main thread
// wakes up and runs CheckSynchronize. Empty: nobody is told.
void SetWakeMainThread(std::function<void()> wake);

}  // namespace vellum::gui
