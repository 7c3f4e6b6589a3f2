// What the kit tests share: a test module's entry, the report and the trace written to the
// running test's own files and read back, and the numbers of a scope's row in the report's
// timing table. Portable.
#pragma once

#include <array>
#include <nlohmann/json.hpp>

#include "kit/profilerkit.h"
#include "test_support.h"

#define KIT_ENTRY(type, module, name) reinterpret_cast<type>(OsModuleEntry(module, name))

inline std::string ReportText()
{
    const std::string path = TempPath("_report.txt");
    FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(ProfilerKitReport(file));
    std::fclose(file);
    return FileText(path);
}

// The report's first line after the title that ends with the name; empty when none does.
inline std::string ReportLine(const char* title, const std::string& name)
{
    const std::string report = ReportText();
    const size_t at = report.find("  " + name + "\n", report.find(title));
    const size_t begin = at == std::string::npos ? at : report.rfind('\n', at) + 1;
    return begin == at ? "" : report.substr(begin, at + name.size() + 2 - begin);
}

// Calls, total ms, mean us, longest us and calls over the threshold; zeros for a missing row.
inline std::array<double, 5> Timing(const std::string& name)
{
    std::istringstream row(ReportLine("Timing", name));
    std::array<double, 5> columns = {};
    for (double& column : columns)
        row >> column;
    return columns;
}

inline nlohmann::json Trace()
{
    const std::string path = TempPath("_trace.json");
    EXPECT_TRUE(ProfilerKitWriteTrace(path.c_str()));
    return nlohmann::json::parse(FileText(path));
}
