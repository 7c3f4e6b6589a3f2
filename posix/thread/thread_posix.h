// Seams of the POSIX thread unit: where it reads the machine's processor topology, so
// tests can present a machine other than this one. Per-OS, internal (not installed).
#pragma once

struct SThreadOsSeams
{
    // The sysfs CPU directory: "online" lists the online processors and
    // cpuN/topology/core_cpus_list (or thread_siblings_list) the processors of N's core.
    const char* m_CpuRoot;
};
extern SThreadOsSeams g_ThreadOsSeams;
