// The mutex's lock and unlock on Windows, out of line in the per-OS unit: inline, they would
// pull <windows.h> into every client for the critical section. Per-OS; included by
// common/thread/mutex.h.
#pragma once

void ThreadMutexLock(ThreadMutex* mutex);
void ThreadMutexUnlock(ThreadMutex* mutex);
