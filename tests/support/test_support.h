// Test helpers shared by every test executable: a recording assertion handler, a counting
// allocator that can fail on demand, and bounded waiting. Portable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/memory/allocator.h"

struct SAssertRecord
{
    std::string m_File;
    int m_Line;
    std::string m_Expression;
};

// Installs itself as the module's AssertHandler for its lifetime and records every failed
// check; returns false so execution continues past the check.
class CAssertRecorder
{
public:
    CAssertRecorder();
    ~CAssertRecorder();
    std::vector<SAssertRecord> Records() const;
    size_t Count() const { return Records().size(); }
    std::vector<std::string> Expressions() const;
    // True when some failure's expression text contains the given text.
    bool Saw(const std::string& expressionPart) const;

private:
    mutable std::mutex m_Mutex;
    std::vector<SAssertRecord> m_Records;
};

// An SAllocator that counts blocks, fills new blocks with 0xCD (so zero-filling by the
// caller is observable) and fails allocations on demand.
struct SCountingAllocator
{
    SAllocator m_Base; // first: the record passed as self
    std::atomic<int> m_Allocations{0};
    std::atomic<int> m_Frees{0};
    // Successful allocations left before the next one fails; -1: none fails.
    std::atomic<int> m_FailCountdown{-1};
    std::atomic<bool> m_FailAll{false};
    std::atomic<uint32_t> m_LastSize{0};
    std::atomic<uint32_t> m_LastAlignment{0};

    SCountingAllocator();
    SAllocator* Get() { return &m_Base; }
    int Live() const { return m_Allocations.load() - m_Frees.load(); }
};

// Polls the condition until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(10000));
