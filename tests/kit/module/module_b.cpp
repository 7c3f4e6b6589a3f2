// Module B: a timed scope and the shared header's code, named threads of its own thread layer, and
// a log line written to its own (uninitialised) log.
#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit_module.h"

KIT_TEST_EXPORT void KitModuleBWork(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("B::Work", 0);
        KitSharedInline();
    }
}

// Two threads of this module's thread layer, named by it, run to their end.
KIT_TEST_EXPORT void KitModuleBRunThreads(ThreadEntryFunc entry, void* first, void* second)
{
    ThreadImpl* threads[] = {ThreadCreate("Bworker", entry, first, 0),
                             ThreadCreate("OSnamed", entry, second, 0)};
    ThreadDestroy(threads[0]);
    ThreadDestroy(threads[1]);
}

KIT_TEST_EXPORT void KitModuleBLog(const char* text)
{
    LogWrite(E_LOG_WARNING, "PLUGIN", __FILE__, __LINE__, "%s", text);
}
