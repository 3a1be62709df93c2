#include "pool/cpu_count.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace tarnix::pool {

namespace {

using Components = std::vector<std::string>;

std::string_view trim(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The whole of text as unsigned decimal digits: no sign, no blanks.
template <class Int>
std::optional<Int> parse_digits(std::string_view text) {
    if (text.empty()) return std::nullopt;
    Int value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

// quota / period rounded down, at least 1: a quota of 1.5 CPUs keeps 1 worker
// busy all the time, a second one would be throttled. Nothing for a zero
// period or quota.
std::optional<std::size_t> cpus_of_quota(std::optional<std::uint64_t> quota,
                                         std::optional<std::uint64_t> period) {
    if (!quota || !period || *quota == 0 || *period == 0) return std::nullopt;
    const std::uint64_t cpus = std::max<std::uint64_t>(1, *quota / *period);
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(cpus, std::numeric_limits<std::size_t>::max()));
}

std::optional<std::size_t> smaller(std::optional<std::size_t> a, std::optional<std::size_t> b) {
    if (a && b) return std::min(*a, *b);
    return a ? a : b;
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const auto stop = text.find(separator, start);
        parts.push_back(text.substr(start, stop - start));
        if (stop == std::string_view::npos) return parts;
        start = stop + 1;
    }
}

bool list_contains(std::string_view comma_list, std::string_view item) {
    const auto items = split(comma_list, ',');
    return std::find(items.begin(), items.end(), item) != items.end();
}

// The non-empty components of a path; nothing if it steps upwards with "..".
std::optional<Components> components_of(std::string_view path) {
    Components parts;
    for (std::string_view part : split(path, '/')) {
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.emplace_back(part);
    }
    return parts;
}

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string unescape_octal(std::string_view field) {
    auto is_octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
            is_octal(field[i + 2]) && is_octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

struct Mount {
    Components root;    // the part of the hierarchy the mount shows
    std::string point;  // where it is mounted
    std::string fs_type;
    std::string super_options;
};

// "id parent major:minor root point options [optional...] - type source super"
std::optional<Mount> parse_mount(std::string_view line) {
    const auto dash = line.find(" - ");
    if (dash == std::string_view::npos) return std::nullopt;
    const auto left = split(line.substr(0, dash), ' ');
    const auto right = split(line.substr(dash + 3), ' ');
    if (left.size() < 6 || right.size() < 3) return std::nullopt;
    auto root = components_of(unescape_octal(left[3]));
    if (!root || left[4].empty() || left[4].front() != '/') return std::nullopt;
    return Mount{std::move(*root), unescape_octal(left[4]), std::string(right[0]),
                 std::string(right[2])};
}

std::vector<Mount> read_mounts(const std::string& root) {
    std::vector<Mount> mounts;
    const auto text = read_file(root + "proc/self/mountinfo");
    if (!text) return mounts;
    for (std::string_view line : split(*text, '\n')) {
        if (auto mount = parse_mount(line)) mounts.push_back(std::move(*mount));
    }
    return mounts;
}

// The cgroup path of a hierarchy in /proc/self/cgroup
// ("id:controllers:path").
struct Membership {
    std::string_view controllers;
    std::string_view path;
};

std::optional<Membership> parse_membership(std::string_view line) {
    const auto first = line.find(':');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = line.find(':', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    return Membership{line.substr(first + 1, second - first - 1), line.substr(second + 1)};
}

// Reads the quota that a cgroup directory (absolute, below root) sets.
using DirQuota = std::optional<std::size_t> (*)(const std::string& dir);

std::optional<std::size_t> cpu_max_of(const std::string& dir) {
    const auto text = read_file(dir + "/cpu.max");
    return text ? quota_from_cpu_max(*text) : std::nullopt;
}

std::optional<std::size_t> cfs_of(const std::string& dir) {
    const auto quota = read_file(dir + "/cpu.cfs_quota_us");
    const auto period = read_file(dir + "/cpu.cfs_period_us");
    return quota && period ? quota_from_cfs(*quota, *period) : std::nullopt;
}

// The smallest quota from the cgroup's directory up to the mount point of the
// first mount that shows it. The path in /proc/self/cgroup is relative to the
// hierarchy's root, while a mount may show only a sub-tree of it.
std::optional<std::size_t> quota_in_hierarchy(const std::string& root,
                                              const std::vector<Mount>& mounts,
                                              bool (*wanted)(const Mount&),
                                              std::string_view cgroup_path, DirQuota read) {
    const auto group = components_of(cgroup_path);
    if (!group) return std::nullopt;
    for (const Mount& mount : mounts) {
        if (!wanted(mount) || mount.root.size() > group->size() ||
            !std::equal(mount.root.begin(), mount.root.end(), group->begin())) {
            continue;
        }
        std::string dir = root;
        dir.append(mount.point, 1);  // mount.point starts with '/'
        std::vector<std::size_t> lengths{dir.size()};
        for (auto part = group->begin() + static_cast<std::ptrdiff_t>(mount.root.size());
             part != group->end(); ++part) {
            if (dir.back() != '/') dir += '/';
            dir += *part;
            lengths.push_back(dir.size());
        }
        std::optional<std::size_t> least;
        for (auto length = lengths.rbegin(); length != lengths.rend(); ++length) {
            least = smaller(least, read(dir.substr(0, *length)));
        }
        return least;
    }
    return std::nullopt;
}

bool is_cgroup2(const Mount& mount) { return mount.fs_type == "cgroup2"; }

bool is_cgroup1_cpu(const Mount& mount) {
    return mount.fs_type == "cgroup" && list_contains(mount.super_options, "cpu");
}

std::size_t affinity_cpus() {
    struct Free {
        void operator()(cpu_set_t* set) const { CPU_FREE(set); }
    };
    // Machines with more CPUs than a cpu_set_t holds need a larger mask.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 22); cpus *= 2) {
        std::unique_ptr<cpu_set_t, Free> set(CPU_ALLOC(cpus));
        if (!set) break;
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set.get());
        if (sched_getaffinity(0, bytes, set.get()) == 0) {
            const int count = CPU_COUNT_S(bytes, set.get());
            if (count > 0) return static_cast<std::size_t>(count);
            break;
        }
        if (errno != EINVAL) break;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

std::optional<std::size_t> parse_positive(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view digits(text);
    // A single leading '+' is accepted, as Rust's integer parsing does.
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    auto value = parse_digits<std::size_t>(digits);
    if (!value || *value == 0) return std::nullopt;
    return value;
}

std::optional<std::size_t> quota_from_cpu_max(std::string_view cpu_max) {
    const auto text = trim(cpu_max);
    const auto blank = text.find_first_of(" \t");
    if (blank == std::string_view::npos) return std::nullopt;
    const auto quota = text.substr(0, blank);
    if (quota == "max") return std::nullopt;
    return cpus_of_quota(parse_digits<std::uint64_t>(quota),
                         parse_digits<std::uint64_t>(trim(text.substr(blank))));
}

std::optional<std::size_t> quota_from_cfs(std::string_view quota_us, std::string_view period_us) {
    // -1 means no limit; any other non-number is garbage, also no limit.
    return cpus_of_quota(parse_digits<std::uint64_t>(trim(quota_us)),
                         parse_digits<std::uint64_t>(trim(period_us)));
}

std::optional<std::size_t> cgroup_cpu_quota(const std::string& root) {
    try {
        const std::string base = root.empty() || root.back() == '/' ? root : root + '/';
        const auto memberships = read_file(base + "proc/self/cgroup");
        if (!memberships) return std::nullopt;
        const auto mounts = read_mounts(base);
        std::optional<std::size_t> least;
        for (std::string_view line : split(*memberships, '\n')) {
            const auto member = parse_membership(line);
            if (!member) continue;
            if (line.starts_with("0::")) {
                least = smaller(least, quota_in_hierarchy(base, mounts, is_cgroup2,
                                                          member->path, cpu_max_of));
            } else if (list_contains(member->controllers, "cpu")) {
                least = smaller(least, quota_in_hierarchy(base, mounts, is_cgroup1_cpu,
                                                          member->path, cfs_of));
            }
        }
        return least;
    } catch (...) {
        // Only allocation can fail here; the probe then just finds no limit.
        return std::nullopt;
    }
}

std::size_t available_cpus() {
    const std::size_t cpus = affinity_cpus();
    const auto quota = cgroup_cpu_quota("/");
    return std::max<std::size_t>(1, quota ? std::min(cpus, *quota) : cpus);
}

std::size_t configured_thread_count() {
    auto threads = parse_positive(std::getenv("RAYON_NUM_THREADS"));
    if (!threads) threads = parse_positive(std::getenv("RAYON_RS_NUM_CPUS"));
    return std::min(threads ? *threads : available_cpus(), kMostThreads);
}

}  // namespace tarnix::pool
