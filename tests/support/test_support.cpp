// Test helpers shared by every test executable.
#include "test_support.h"

#include <cstring>
#include <thread>

#include "common/debug/assert.h"
#include "common/memory/allocator.h"

static CAssertRecorder* s_Recorder = nullptr;

CAssertRecorder::CAssertRecorder()
{
    s_Recorder = this;
    AssertHandler = &CAssertRecorder::Handler;
}

CAssertRecorder::~CAssertRecorder()
{
    AssertHandler = nullptr;
    s_Recorder = nullptr;
}

bool CAssertRecorder::Handler(const char* file, int line, const char* expression)
{
    std::lock_guard<std::mutex> hold(s_Recorder->m_Mutex);
    s_Recorder->m_Records.push_back({file, line, expression});
    return false;
}

std::vector<SAssertRecord> CAssertRecorder::Records() const
{
    std::lock_guard<std::mutex> hold(m_Mutex);
    return m_Records;
}

size_t CAssertRecorder::Count() const
{
    std::lock_guard<std::mutex> hold(m_Mutex);
    return m_Records.size();
}

bool CAssertRecorder::Saw(const std::string& expressionPart) const
{
    std::lock_guard<std::mutex> hold(m_Mutex);
    for (const SAssertRecord& record : m_Records)
        if (record.m_Expression.find(expressionPart) != std::string::npos)
            return true;
    return false;
}

static void* CountingAlloc(SAllocator* self, uint32_t size, uint32_t alignment)
{
    auto* counting = reinterpret_cast<SCountingAllocator*>(self);
    if (counting->m_FailAll.load())
        return nullptr;
    const int countdown = counting->m_FailCountdown.load();
    if (countdown >= 0)
    {
        counting->m_FailCountdown.store(countdown - 1);
        if (countdown == 0)
            return nullptr;
    }
    void* block = DefaultAlloc(GetDefaultAllocator(), size, alignment);
    if (block == nullptr)
        return nullptr;
    std::memset(block, 0xCD, size);
    counting->m_Allocations.fetch_add(1);
    counting->m_LastSize.store(size);
    counting->m_LastAlignment.store(alignment);
    return block;
}

static void CountingFree(SAllocator* self, void* block)
{
    auto* counting = reinterpret_cast<SCountingAllocator*>(self);
    counting->m_Frees.fetch_add(1);
    DefaultFree(GetDefaultAllocator(), block);
}

SCountingAllocator::SCountingAllocator() : m_Base{&CountingAlloc, &CountingFree} {}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
