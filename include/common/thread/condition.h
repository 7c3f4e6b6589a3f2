// The condition variable of the platform layer: a heap record around an OS condition
// variable, bound for its whole life to one ThreadMutex that it does not own. Portable
// interface; the record is defined by the per-OS synchronization units.
#pragma once

#include "common/thread/mutex.h"

struct ThreadCondition;

// The mutex must outlive the condition variable.
ThreadCondition* ThreadConditionCreate(ThreadMutex* mutex);
// No thread may wait on it while it is destroyed.
void ThreadConditionDestroy(ThreadCondition* condition);
// Called with the bound mutex held once (not recursively): releases it, waits for a
// wake-up and holds it again before returning. Waits may also end without a wake-up, so
// callers test their condition again in a loop.
void ThreadConditionWait(ThreadCondition* condition);
// Wakes one waiting thread; with no waiter it has no effect on later waits.
void ThreadConditionWakeOne(ThreadCondition* condition);
void ThreadConditionWakeAll(ThreadCondition* condition);
