// Test helpers shared by every test executable. Portable.
#include "test_support.h"

#include <cstring>
#include <thread>

#include "common/debug/assert.h"

static CAssertRecorder* s_Recorder = nullptr;

CAssertRecorder::CAssertRecorder()
{
    s_Recorder = this;
    AssertHandler = [](const char* file, int line, const char* expression) {
        std::lock_guard<std::mutex> hold(s_Recorder->m_Mutex);
        s_Recorder->m_Records.push_back({file, line, expression});
        return false;
    };
}

CAssertRecorder::~CAssertRecorder()
{
    AssertHandler = nullptr;
    s_Recorder = nullptr;
}

std::vector<SAssertRecord> CAssertRecorder::Records() const
{
    std::lock_guard<std::mutex> hold(m_Mutex);
    return m_Records;
}

std::vector<std::string> CAssertRecorder::Expressions() const
{
    std::vector<std::string> expressions;
    for (const SAssertRecord& record : Records())
        expressions.push_back(record.m_Expression);
    return expressions;
}

bool CAssertRecorder::Saw(const std::string& expressionPart) const
{
    for (const std::string& expression : Expressions())
        if (expression.find(expressionPart) != std::string::npos)
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
        counting->m_FailCountdown.store(countdown - 1);
    void* block = countdown == 0 ? nullptr : DefaultAlloc(GetDefaultAllocator(), size, alignment);
    if (block == nullptr)
        return nullptr;
    std::memset(block, 0xCD, size);
    counting->m_Allocations.fetch_add(1);
    counting->m_LastSize.store(size);
    counting->m_LastAlignment.store(alignment);
    return block;
}

SCountingAllocator::SCountingAllocator()
    : m_Base{&CountingAlloc, [](SAllocator* self, void* block) {
                 reinterpret_cast<SCountingAllocator*>(self)->m_Frees.fetch_add(1);
                 DefaultFree(GetDefaultAllocator(), block);
             }}
{
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
