// Module B: a timed scope, named threads of its own thread layer, and a log line written
// to its own (uninitialised) log.
#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit_module.h"

KIT_TEST_EXPORT void KitModuleBWork(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("B::Work", 0);
    }
}

KIT_TEST_EXPORT ThreadImpl* KitModuleBStartThread(const char* name, ThreadEntryFunc entry,
                                                  void* arg)
{
    return ThreadCreate(name, entry, arg, 0);
}

KIT_TEST_EXPORT void KitModuleBJoinThread(ThreadImpl* thread)
{
    ThreadDestroy(thread);
}

KIT_TEST_EXPORT void KitModuleBLog(const char* text)
{
    LogWrite(E_LOG_WARNING, "PLUGIN", __FILE__, __LINE__, "%s", text);
}
