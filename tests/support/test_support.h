// Test helpers shared by every test executable, which take GoogleTest, the standard headers
// and the platform layer's headers that several tests use from here: a recording assertion
// handler, a counting allocator that can fail on demand, bounded waiting, the test's own files
// and texts at a guard page. Portable.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/memory/allocator.h"
#include "common/thread/affinity.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"
#include "common/thread/thread.h"
#include "common/time/counter.h"
#include "platform/os.h"

// Installs itself as the module's AssertHandler for its lifetime and records the expression
// text of every failed check; returns false so execution continues past the check.
class CAssertRecorder
{
public:
    CAssertRecorder()
    {
        s_Recorder = this;
        AssertHandler = [](const char*, int, const char* expression) {
            std::lock_guard<std::mutex> hold(s_Recorder->m_Mutex);
            s_Recorder->m_Expressions.push_back(expression);
            return false;
        };
    }
    ~CAssertRecorder() { AssertHandler = nullptr; }
    std::vector<std::string> Expressions() const
    {
        std::lock_guard<std::mutex> hold(m_Mutex);
        return m_Expressions;
    }
    // True when some failure's expression text contains the given text.
    bool Saw(const std::string& part) const
    {
        const std::vector<std::string> all = Expressions();
        return std::any_of(all.begin(), all.end(), [&](auto& e) { return e.find(part) != e.npos; });
    }

private:
    static inline CAssertRecorder* s_Recorder = nullptr;
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_Expressions;
};

// An SAllocator that counts blocks, fills new blocks with 0xCD (so zero-filling by the
// caller is observable) and fails allocations on demand.
struct SCountingAllocator
{
    SAllocator m_Base{&Alloc, &Free}; // first: the record passed as self
    std::atomic<int> m_Allocations{0}, m_Frees{0};
    // Successful allocations left before the next one fails; -1: none fails.
    std::atomic<int> m_FailCountdown{-1};
    std::atomic<uint32_t> m_LastSize{0}, m_LastAlignment{0};

    SAllocator* Get() { return &m_Base; }
    int Live() const { return m_Allocations.load() - m_Frees.load(); }
    static void* Alloc(SAllocator* self, uint32_t size, uint32_t alignment)
    {
        auto* counting = reinterpret_cast<SCountingAllocator*>(self);
        const int countdown = counting->m_FailCountdown.load(); // stays at -1
        counting->m_FailCountdown.store(countdown - (countdown >= 0));
        void* block =
            countdown == 0 ? nullptr : DefaultAlloc(GetDefaultAllocator(), size, alignment);
        if (block == nullptr)
            return nullptr;
        std::memset(block, 0xCD, size);
        counting->m_Allocations.fetch_add(1);
        counting->m_LastSize.store(size);
        counting->m_LastAlignment.store(alignment);
        return block;
    }
    static void Free(SAllocator* self, void* block)
    {
        reinterpret_cast<SCountingAllocator*>(self)->m_Frees.fetch_add(1);
        DefaultFree(GetDefaultAllocator(), block);
    }
};

// Polls the condition until it holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::milliseconds(10000))
{
    for (const auto end = std::chrono::steady_clock::now() + deadline; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(1)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// Runs body(0) to body(count - 1) on as many threads at once and waits for them all.
inline void RunThreads(int count, const std::function<void(int)>& body)
{
    std::vector<std::jthread> threads; // joined as they go
    for (int index = 0; index < count; ++index)
        threads.emplace_back(body, index);
}

// Whether another thread can take the mutex now: false while this thread holds it.
inline bool OtherThreadTakes(ThreadMutex* mutex)
{
    bool taken = false;
    std::thread([&] {
        if ((taken = ThreadMutexTryLock(mutex)))
            ThreadMutexUnlock(mutex);
    }).join();
    return taken;
}

// A file of the running test's own (tests run in parallel processes). Every configuration
// runs the same test under the same name in the same temporary folder, so a file an earlier
// run left there is removed before the test sees it.
inline std::string TempPath(const char* suffix)
{
    const std::string path =
        testing::TempDir() + testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
    std::remove(path.c_str());
    return path;
}

inline std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A text placed so that its terminating zero is the last readable byte before an
// inaccessible page: a read past the end faults at once. Per-OS halves in guard_page.cpp.
class CGuardedText
{
public:
    explicit CGuardedText(const std::string& text);
    ~CGuardedText();
    CGuardedText(const CGuardedText&) = delete;
    CGuardedText& operator=(const CGuardedText&) = delete;
    const char* Get() const { return m_Text; }

private:
    void* m_Base;
    size_t m_Size;
    const char* m_Text;
};
