// Stress test, portable: many thread lifetimes in a row from two threads at once: created
// threads, and foreign threads that adopt and release objects. Each checks that its object,
// handle and name were in place before its own code ran; the sanitizer build's leak checker
// checks that every object, handle and hand-over record went away.
#include <gtest/gtest.h>

#include <cstdio>

#include "thread_test_helpers.h"

TEST(ThreadStress, HundredsOfCreatedAndAdoptedThreadsComeAndGo)
{
    static std::atomic<int> in_place;
    in_place = 0;
    auto run = [](int creator) {
        for (int index = 0; index < 150; ++index)
        {
            std::string name = "Stress" + std::to_string(creator) + "-" + std::to_string(index);
            ThreadDestroy(ThreadCreate(
                name.c_str(),
                [](void* arg) { in_place += InPlace(*static_cast<std::string*>(arg)); }, &name, 0));
            std::thread foreign([&] {
                in_place += ThreadAttachCurrent(name.c_str()) != nullptr && InPlace(name);
                ThreadDetachCurrent();
                in_place -= ThreadGetCurrent() != nullptr;
            });
            foreign.join();
        }
    };
    std::thread second(run, 1);
    run(0);
    second.join();
    EXPECT_EQ(in_place, 2 * 2 * 150);
    std::printf("[ stress ] %d thread lifetimes, each in place before its own code ran\n",
                in_place.load());
}
