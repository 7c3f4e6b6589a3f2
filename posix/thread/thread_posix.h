// Seams of the POSIX thread unit: where it reads the machine's processor topology and how
// it reads and sets threads' affinity, so tests can present a machine other than this one.
// Per-OS, internal (not installed).
#pragma once

#include <sched.h>
#include <sys/types.h>

struct SThreadOsSeams
{
    // The sysfs CPU directory: "online" lists the online processors and
    // cpuN/topology/core_cpus_list (or thread_siblings_list) the processors of N's core.
    const char* m_CpuRoot;
    // sched_getaffinity and sched_setaffinity by default.
    int (*m_GetAffinity)(pid_t tid, size_t size, cpu_set_t* set);
    int (*m_SetAffinity)(pid_t tid, size_t size, const cpu_set_t* set);
};
extern SThreadOsSeams g_ThreadOsSeams;
