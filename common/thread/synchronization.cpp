// Spinlocks, thread-local globals, sleep and yield. Portable: atomics come from the
// language, the TLS slots and sleeping from platform/os.h.
#include "common/thread/synchronization.h"

#include <atomic>
#include <cstring>
#include <new>

#include "common/debug/assert.h"
#include "platform/os.h"

SThreadSeams g_ThreadSeams = {&OsTlsAlloc};

// ---- lock words ----

static int32_t LockWordExchange(int32_t* word, int32_t value)
{
    return std::atomic_ref<int32_t>(*word).exchange(value, std::memory_order_seq_cst);
}

void ThreadLockWordInit(int32_t* word)
{
    LockWordExchange(word, 0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

bool ThreadLockWordTryAcquire(int32_t* word)
{
    return LockWordExchange(word, 1) != 1;
}

void ThreadLockWordAcquire(int32_t* word)
{
    // An attempt reads the word first and exchanges only when it looks free: waiters then
    // share the cache line instead of taking it from the holder at every try, which is what
    // keeps two contending threads at the speed of a blocking mutex.
    ThreadSpinAcquire(
        [word] {
            return std::atomic_ref<int32_t>(*word).load(std::memory_order_relaxed) != 1 &&
                   ThreadLockWordTryAcquire(word);
        },
        &ThreadYield);
}

void ThreadLockWordRelease(int32_t* word)
{
    // The release store pairs with the acquiring exchange: every write of the critical
    // section is visible to the next holder. A full fence here would only order the
    // releasing thread's later reads, which a lock does not promise, at the price of the
    // whole uncontended pair.
    std::atomic_ref<int32_t>(*word).store(0, std::memory_order_release);
}

// ---- spinlock records ----

static ThreadSpinlockImpl* SpinlockImpl(ThreadSpinlockData* spinlock)
{
    return reinterpret_cast<ThreadSpinlockImpl*>(spinlock);
}

ThreadSpinlockData* ThreadSpinlockCreate()
{
    auto* spinlock = static_cast<ThreadSpinlockData*>(::operator new(sizeof(ThreadSpinlockData)));
    std::memset(spinlock, 0, sizeof(ThreadSpinlockData));
    ThreadSpinlockImpl* impl = SpinlockImpl(spinlock);
    impl->m_Owned = 0;
    impl->m_Lock = 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return spinlock;
}

ThreadSpinlockData* ThreadSpinlockInit(ThreadSpinlockData* spinlock)
{
    static_assert(sizeof(ThreadSpinlockData) >= sizeof(ThreadSpinlockImpl));
    static_assert(alignof(ThreadSpinlockData) >= alignof(ThreadSpinlockImpl));
    PLATFORM_ASSERT(sizeof(ThreadSpinlockData) >= sizeof(ThreadSpinlockImpl));
    ThreadSpinlockImpl* impl = SpinlockImpl(spinlock);
    impl->m_Owned = 1;
    impl->m_Lock = 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return spinlock;
}

void ThreadSpinlockDestroy(ThreadSpinlockData* spinlock)
{
    if (SpinlockImpl(spinlock)->m_Owned == 0)
        ::operator delete(spinlock);
}

void ThreadSpinlockLock(ThreadSpinlockData* spinlock)
{
    ThreadLockWordAcquire(&SpinlockImpl(spinlock)->m_Lock);
}

bool ThreadSpinlockTryLock(ThreadSpinlockData* spinlock)
{
    return ThreadLockWordTryAcquire(&SpinlockImpl(spinlock)->m_Lock);
}

void ThreadSpinlockUnlock(ThreadSpinlockData* spinlock)
{
    ThreadLockWordRelease(&SpinlockImpl(spinlock)->m_Lock);
}

// ---- thread-local globals ----

// The slot word is read without the guard and written once under it. The acquire load
// pairs with the release store so a thread that sees the index also sees the slot's
// zeroing by the allocating thread's OS call.
static uint32_t SlotIndex(uint32_t* slot)
{
    return std::atomic_ref<uint32_t>(*slot).load(std::memory_order_acquire);
}

// Returns the slot index, allocating it on first use; OS_TLS_INVALID when the OS has none.
// zeroCaller: the getter also sets the caller's value in a new slot to 0.
static uint32_t TlsGlobalSlot(int32_t* guard, uint32_t* slot, bool zeroCaller)
{
    uint32_t index = SlotIndex(slot);
    if (index != OS_TLS_INVALID)
        return index;

    ThreadLockWordAcquire(guard);
    index = SlotIndex(slot);
    if (index == OS_TLS_INVALID)
    {
        index = g_ThreadSeams.m_TlsAlloc();
        if (index != OS_TLS_INVALID)
        {
            if (zeroCaller)
                OsTlsSet(index, 0);
            std::atomic_ref<uint32_t>(*slot).store(index, std::memory_order_release);
        }
    }
    ThreadLockWordRelease(guard);
    return index;
}

uintptr_t TlsGlobalGet(int32_t* guard, uint32_t* slot)
{
    uint32_t index = TlsGlobalSlot(guard, slot, true);
    return index == OS_TLS_INVALID ? 0 : OsTlsGet(index);
}

uintptr_t TlsGlobalPeek(const uint32_t* slot)
{
    const uint32_t index = SlotIndex(const_cast<uint32_t*>(slot));
    return index == OS_TLS_INVALID ? 0 : OsTlsGet(index);
}

void TlsGlobalSet(int32_t* guard, uint32_t* slot, uintptr_t value)
{
    uint32_t index = TlsGlobalSlot(guard, slot, false);
    if (index != OS_TLS_INVALID)
        OsTlsSet(index, value);
}

// ---- sleep and yield ----

void ThreadSleep(uint32_t milliseconds)
{
    if (milliseconds != 0)
        OsSleep(milliseconds);
}

void ThreadYield()
{
    OsYield();
}
