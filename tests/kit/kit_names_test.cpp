// Names in any bytes reach the trace as valid UTF-8: the OS's thread names (ill-formed,
// cut by the kernel in a character, or longer than the OS or the kit keeps), a name that
// the thread layer cuts to 127 bytes, and a scope literal with raw bytes. Portable.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "common/thread/thread.h"
#include "kit/profilerkit.h"

#if defined(_WIN32)
constexpr size_t kOsNameBytes = 255; // the kit's buffer: descriptions may be longer
#else
constexpr size_t kOsNameBytes = 15; // what the kernel keeps
#endif

TEST(KitNames, EveryNameReachesTheTraceAsValidUtf8)
{
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    const std::string e = "\xC3\xA9", bad = "\xEF\xBF\xBD"; // "é" and U+FFFD
    std::string es;
    while (es.size() < 260)
        es += e;
    // A thread's name, whether the thread layer or the OS alone names it, and the trace's.
    const struct
    {
        std::string m_Name, m_Shown;
        bool m_Created;
    } rows[] = {{"\xFF\xFE\x80", bad + bad + bad, false},
                {"abcdefghijklmn\xC3", "abcdefghijklmn" + bad, false}, // the kernel's cut
                {es, es.substr(0, kOsNameBytes - 1), false},
                {es.substr(0, 130), es.substr(0, 126), true}};
    const ThreadEntryFunc timed = [](void*) { PROFILE_SCOPE("Raw \xFF\xC3\xA9\xC3", 0); };
    for (const auto& row : rows)
        if (row.m_Created)
            ThreadDestroy(ThreadCreate(row.m_Name.c_str(), timed, nullptr, 0));
        else
            std::thread([&] {
                ThreadAnnounceName(ThreadGetCurrentId(), row.m_Name.c_str());
                timed(nullptr);
            }).join();
    const std::string path = testing::TempDir() + "kit_names_trace.json";
    ASSERT_TRUE(ProfilerKitWriteTrace(path.c_str()));
    const nlohmann::json trace = nlohmann::json::parse(std::ifstream(path)); // checks UTF-8
    std::remove(path.c_str());
    std::vector<std::string> threads;
    std::set<std::string> scopes;
    for (const nlohmann::json& event : trace.at("traceEvents"))
        if (event.at("ph") == "M")
            threads.push_back(event.at("args").at("name"));
        else
            scopes.insert(event.at("name").get<std::string>());
    EXPECT_EQ(scopes, std::set<std::string>{"Raw " + bad + e + bad});
    ASSERT_EQ(threads.size(), std::size(rows));
    for (size_t i = 0; i < threads.size(); ++i)
        EXPECT_EQ(threads[i], rows[i].m_Shown) << i;
}
