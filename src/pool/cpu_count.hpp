// How many threads the worker pool gets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnix::pool {

// The most threads the pool has, whatever it is asked for.
inline constexpr std::size_t kMostThreads = 1024;

// RAYON_NUM_THREADS when it is a positive integer, else RAYON_RS_NUM_CPUS when
// positive, else available_cpus(); at most kMostThreads.
std::size_t configured_thread_count();

// A positive decimal integer, or nothing (unset, empty, zero, junk).
std::optional<std::size_t> parse_positive(const char* text);

// The CPUs this process may run on: its affinity mask, reduced by a cgroup
// (v1 or v2) CPU quota where one applies; at least 1.
std::size_t available_cpus();

// The CPU limit of a cgroup quota, rounded down, at least 1: "max 100000" ->
// none, "150000 100000" -> 1, "50000 100000" -> 1. From cgroup v2's cpu.max ...
std::optional<std::size_t> quota_from_cpu_max(std::string_view cpu_max);
// ... and from cgroup v1's cpu.cfs_quota_us and cpu.cfs_period_us.
std::optional<std::size_t> quota_from_cfs(std::string_view quota_us, std::string_view period_us);

// The smallest quota on the path from the process's cgroup up to the
// hierarchy's root, read below `root` (normally "/"): /proc/self/cgroup and
// /proc/self/mountinfo name the cgroup and where its hierarchy is mounted.
std::optional<std::size_t> cgroup_cpu_quota(const std::string& root = "/");

}  // namespace tarnix::pool
