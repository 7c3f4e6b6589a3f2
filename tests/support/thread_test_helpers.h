// Portable helpers of the thread tests: a lambda as a created thread's entry function, a
// gate that keeps a thread alive until the test opens it (bounded), and the check that a
// thread's object, handle and name are in place.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "common/thread/affinity.h"
#include "common/thread/thread.h"
#include "test_support.h"
#include "thread_os_support.h"

// Creates a thread running *body, which must outlive the thread.
inline ThreadImpl* CreateThreadRunning(const char* name, std::function<void()>* body,
                                       uint32_t stack = 0)
{
    return ThreadCreate(
        name, [](void* arg) { (*static_cast<std::function<void()>*>(arg))(); }, body, stack);
}

// Runs body in a created thread and waits for it to end.
inline void RunThread(const char* name, uint32_t stack, std::function<void()> body)
{
    ThreadDestroy(CreateThreadRunning(name, &body, stack));
}

struct SGate
{
    std::atomic<bool> m_Open{false};
    bool Wait() const
    {
        return WaitUntil([&] { return m_Open.load(); });
    }
};

// The calling thread has its object, with its handle, id and name.
inline bool InPlace(const std::string& name)
{
    ThreadImpl* self = ThreadGetCurrent();
    return self != nullptr && self->m_Thread != nullptr &&
           ThreadGetId(self) == ThreadGetCurrentId() && ThreadGetCurrentName() == name;
}
