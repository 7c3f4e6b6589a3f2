// The counting semaphore of the platform layer: a heap record around an OS semaphore whose
// count runs from 0 to 0x7FFFFFFF. Portable interface; the record is defined by the per-OS
// synchronization units.
#pragma once

#include <cstdint>

struct ThreadSemaphore;

// Initial values of 0x80000000 and more are asserted; the OS then refuses the semaphore,
// which is asserted too, and the record is returned without one.
ThreadSemaphore* ThreadSemaphoreCreate(uint32_t initial_value);
// No thread may wait on the semaphore while it is destroyed.
void ThreadSemaphoreDestroy(ThreadSemaphore* semaphore);
// Takes one count, waiting without time limit until one is there.
void ThreadSemaphoreWait(ThreadSemaphore* semaphore);
// Takes one count if one is there at once; false otherwise.
bool ThreadSemaphoreTryWait(ThreadSemaphore* semaphore);
// Adds one count; a count that would pass 0x7FFFFFFF is asserted and left unchanged.
void ThreadSemaphoreSignal(ThreadSemaphore* semaphore);
