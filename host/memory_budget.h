// The memory a run may take for its integrator. The dense Jacobian grows with the square of the
// states: a model that claims too many would take the memory of everything else on the
// machine, or be killed for it, so its counts are refused before the library is loaded. The
// memory is this machine's, or the limit of the process's cgroup (a container's or a
// service's, which the kernel enforces with its OOM killer however much the machine has) where
// that is less.
#pragma once

#include <cstddef>
#include <string>

// The bytes a run with these counts takes for its integrator, at most: the dense Jacobian and
// the linear solver's saved copy of it (8·n² bytes each), some 40 vectors of n values, the root
// finding's arrays of the indicators.
double integrator_memory(size_t states, size_t indicators);

// Refuses (HostError) counts whose integrator would take more than half of the memory given,
// which is the machine's, or what the process's cgroup allows (cgroupLimit).
void check_memory(size_t states, size_t indicators, double memory, bool cgroupLimit);
// The same for the smaller of the machine's memory and the cgroup's limit.
void check_run_memory(size_t states, size_t indicators, double machine, double cgroup);
// The same for this machine and this process's cgroup.
void check_run_memory(size_t states, size_t indicators);

// This machine's physical memory in bytes; infinity where it cannot be told.
double physical_memory();

// The smallest memory limit of the process's cgroups, listed in cgroupList (the format of
// /proc/self/cgroup), and of the cgroups above them, read below root: in the unified
// hierarchy ("0::<path>") memory.max, in cgroup v1's memory controller ("<n>:memory:<path>",
// below root/memory) memory.limit_in_bytes. "max" is no limit; infinity where none reads.
double cgroup_memory_limit(const std::string& cgroupList = "/proc/self/cgroup",
                           const std::string& root = "/sys/fs/cgroup");
