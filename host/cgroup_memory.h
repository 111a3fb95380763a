// The memory limit of the cgroup the process runs in: a container's or a service's, which
// the kernel enforces with its OOM killer however much memory the machine has.
#pragma once

#include <string>

// The smallest memory limit of the process's cgroups, listed in cgroupList (the format of
// /proc/self/cgroup), and of the cgroups above them, read below root: in the unified
// hierarchy ("0::<path>") memory.max, in cgroup v1's memory controller ("<n>:memory:<path>",
// below root/memory) memory.limit_in_bytes. "max" is no limit; infinity where none reads.
double cgroup_memory_limit(const std::string& cgroupList = "/proc/self/cgroup",
                           const std::string& root = "/sys/fs/cgroup");
