// Portable helpers of the thread tests: runs a lambda as a created thread's entry function,
// and a gate that keeps a thread alive until the test releases it (bounded).
#pragma once

#include <atomic>
#include <functional>

#include "common/thread/thread.h"
#include "test_support.h"

struct SThreadBody
{
    std::function<void()> m_Body;
};

inline void RunThreadBody(void* arg)
{
    static_cast<SThreadBody*>(arg)->m_Body();
}

// Creates a thread running body; the SThreadBody must outlive the thread.
inline ThreadImpl* CreateThreadRunning(const char* name, SThreadBody* body, uint32_t stack = 0)
{
    return ThreadCreate(name, &RunThreadBody, body, stack);
}

struct SGate
{
    std::atomic<bool> m_Open{false};
    void Open() { m_Open = true; }
    bool Wait() const
    {
        return WaitUntil([&] { return m_Open.load(); });
    }
};
