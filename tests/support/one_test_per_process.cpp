// Stops a run of more than one test in one process, for the test executables whose tests
// share the process-wide profiler context, which only grows. Portable; linked into those
// executables only, so that running one by hand without a filter says why at once.
#include "test_support.h"

// Set up after the filter has chosen the tests and before the first of them runs.
class COneTestPerProcess : public testing::Environment
{
public:
    void SetUp() override
    {
        if (testing::UnitTest::GetInstance()->test_to_run_count() <= 1)
            return;
        std::fflush(stdout); // gtest's lines first, then why the run ends
        std::fprintf(stderr, "these tests share one process-wide context: run one test per "
                             "process, as ctest does, or pick one with --gtest_filter=NAME\n");
        std::exit(1);
    }
};

static testing::Environment* const s_OneTestPerProcess =
    testing::AddGlobalTestEnvironment(new COneTestPerProcess);
