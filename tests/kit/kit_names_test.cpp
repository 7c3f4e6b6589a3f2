// Names in any bytes reach the trace as valid UTF-8: the OS's thread names (ill-formed,
// cut by the kernel in a character, or longer than the OS or the kit keeps) and a scope
// literal with raw bytes. The thread layer's own cut is the thread tests'. Portable.
#include "kit_support.h"

TEST(KitNames, EveryNameReachesTheTraceAsValidUtf8)
{
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    const std::string e = "\xC3\xA9", bad = "\xEF\xBF\xBD", raw = "Raw " + bad + e + bad;
    std::string es; // 130 of "é"
    while (es.size() < 260)
        es += e;
    // The name of a thread that only the OS names, and the name that the trace shows.
    const std::pair<std::string, std::string> rows[] = {
        {"\xFF\xFE\x80", bad + bad + bad},
        {"abcdefghijklmn\xC3", "abcdefghijklmn" + bad}, // as the kernel cuts "é"
#if defined(_WIN32) // the kit's buffer of 255 bytes: descriptions may be longer
        {es, es.substr(0, 254)},
#else // the kernel keeps 15 bytes, the last one half an "é". Windows turns the description
      // into UTF-16 first, by rules of its own, so the next two are the kernel's only.
        {es, es.substr(0, 14)},
        {"\xED\xA0\x80", bad + bad + bad},           // an encoded surrogate
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // past U+10FFFF
#endif
    };
    for (const auto& row : rows)
        std::thread([&] {
            ThreadAnnounceName(ThreadGetCurrentId(), row.first.c_str());
            PROFILE_SCOPE("Raw \xFF\xC3\xA9\xC3", 0);
        }).join();
    const nlohmann::json trace = Trace(); // parsed as strict UTF-8
    std::vector<std::string> names;
    for (const auto& event : trace.at("traceEvents"))
        names.push_back((event.at("ph") == "M" ? event.at("args") : event).at("name"));
    std::vector<std::string> expected(2 * std::size(rows), raw);
    for (size_t i = 0; i < std::size(rows); ++i)
        expected[i] = rows[i].second;
    EXPECT_EQ(names, expected);
}
