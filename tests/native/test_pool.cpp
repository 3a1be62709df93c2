#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "core/fatal.hpp"
#include "pool/cpu_count.hpp"
#include "pool/pool.hpp"

namespace fs = std::filesystem;
using tarnix::pool::cgroup_cpu_quota;
using tarnix::pool::configured_thread_count;
using Quota = std::optional<std::size_t>;

namespace {

TEST(ParsePositive, AcceptsOnlyPositiveDecimals) {
    const std::pair<const char*, Quota> cases[] = {
        {"4", 4}, {"1", 1}, {"007", 7}, {"+4", 4},
        {nullptr, {}}, {"", {}}, {"0", {}}, {"-1", {}}, {"abc", {}}, {"4x", {}},
        {" 4", {}}, {"4 ", {}}, {"4\n", {}}, {"+", {}}, {"++4", {}}, {"+-4", {}},
        {"4.0", {}}, {"99999999999999999999999", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(tarnix::pool::parse_positive(text), expected) << (text ? text : "(null)");
    }
}

TEST(QuotaParsing, CpuMax) {
    const std::pair<const char*, Quota> cases[] = {
        {"max 100000\n", {}}, {"150000 100000\n", 1}, {"200000 100000", 2},
        {"299999 100000", 2}, {"50000 100000\n", 1}, {"1 100000", 1}, {"100000 0", {}}, {"150000", {}}, {"", {}},
        {"-5 100000", {}}, {"abc 100000", {}}, {"150000 100000 7", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(tarnix::pool::quota_from_cpu_max(text), expected) << text;
    }
}

TEST(QuotaParsing, Cfs) {
    const std::tuple<const char*, const char*, Quota> cases[] = {
        {"-1\n", "100000\n", {}}, {"250000\n", "100000\n", 2}, {"50000", "100000", 1},
        {"x", "100000", {}}, {"100000", "0", {}}, {"100000", "", {}},
    };
    for (const auto& [quota, period, expected] : cases) {
        EXPECT_EQ(tarnix::pool::quota_from_cfs(quota, period), expected) << quota << '/' << period;
    }
}

// A directory standing in for "/", with only the files a case names.
class FakeRoot {
public:
    explicit FakeRoot(const std::map<std::string, std::string>& files) {
        std::string pattern = (fs::temp_directory_path() / "tarnix_cgroup_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        for (const auto& [path, text] : files) {
            fs::create_directories((dir_ / path).parent_path());
            std::ofstream(dir_ / path) << text;
        }
    }
    ~FakeRoot() { fs::remove_all(dir_); }
    std::string root() const { return dir_.string() + "/"; }

private:
    fs::path dir_;
};

constexpr const char* kV2Mount =
    "30 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";

struct TreeCase {
    const char* name;
    std::map<std::string, std::string> files;
    Quota expected;
};

TEST(CgroupCpuQuota, ReadsFakeTrees) {
    const TreeCase cases[] = {
        {"v2, parent's limit is smaller",
         {{"proc/self/cgroup", "0::/outer/inner\n"},
          {"proc/self/mountinfo", std::string("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n") + kV2Mount},
          {"sys/fs/cgroup/outer/cpu.max", "100000 100000\n"},
          {"sys/fs/cgroup/outer/inner/cpu.max", "300000 100000\n"}},
         1},
        {"v2, child's limit is smaller",
         {{"proc/self/cgroup", "0::/outer/inner\n"},
          {"proc/self/mountinfo", kV2Mount},
          {"sys/fs/cgroup/outer/cpu.max", "400000 100000\n"},
          {"sys/fs/cgroup/outer/inner/cpu.max", "250000 100000\n"}},
         2},
        {"v2 unlimited",
         {{"proc/self/cgroup", "0::/a\n"},
          {"proc/self/mountinfo", kV2Mount},
          {"sys/fs/cgroup/a/cpu.max", "max 100000\n"}},
         {}},
        {"v2, limit above the mount point is not read",
         {{"proc/self/cgroup", "0::/a\n"},
          {"proc/self/mountinfo", kV2Mount},
          {"sys/fs/cpu.max", "100000 100000\n"},
          {"sys/fs/cgroup/a/cpu.max", "max 100000\n"}},
         {}},
        {"v1 cpu controller",
         {{"proc/self/cgroup", "5:memory:/grp\n4:cpu,cpuacct:/grp\n0::/\n"},
          {"proc/self/mountinfo",
           "33 25 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
           "34 25 0:30 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"},
          {"sys/fs/cgroup/memory/grp/cpu.cfs_quota_us", "100000\n"},
          {"sys/fs/cgroup/memory/grp/cpu.cfs_period_us", "100000\n"},
          {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
          {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"},
          {"sys/fs/cgroup/cpu,cpuacct/grp/cpu.cfs_quota_us", "250000\n"},
          {"sys/fs/cgroup/cpu,cpuacct/grp/cpu.cfs_period_us", "100000\n"}},
         2},
        {"v2 mount showing a sub-tree",
         {{"proc/self/cgroup", "0::/docker/abc/job\n"},
          {"proc/self/mountinfo",
           "30 23 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n"},
          {"sys/fs/cgroup/job/cpu.max", "200000 100000\n"},
          {"sys/fs/cgroup/docker/abc/job/cpu.max", "100000 100000\n"}},
         2},
        {"v1 mount of another sub-tree is skipped",
         {{"proc/self/cgroup", "3:cpu:/x/y\n"},
          {"proc/self/mountinfo",
           "40 23 0:30 /other /mnt/other rw - cgroup cgroup rw,cpu\n"
           "41 23 0:30 /x /mnt/cpu\\040x rw - cgroup cgroup rw,cpu\n"},
          {"mnt/other/x/y/cpu.cfs_quota_us", "100000"},
          {"mnt/other/x/y/cpu.cfs_period_us", "100000"},
          {"mnt/cpu x/y/cpu.cfs_quota_us", "500000"},
          {"mnt/cpu x/y/cpu.cfs_period_us", "100000"}},
         5},
        {"no /proc/self/cgroup", {{"proc/self/mountinfo", kV2Mount}}, {}},
        {"no mountinfo",
         {{"proc/self/cgroup", "0::/a\n"}, {"sys/fs/cgroup/a/cpu.max", "100000 100000\n"}},
         {}},
        {"no quota files",
         {{"proc/self/cgroup", "0::/a\n"}, {"proc/self/mountinfo", kV2Mount}},
         {}},
        {"garbled files",
         {{"proc/self/cgroup", "garbage\n0::/a\n"},
          {"proc/self/mountinfo", std::string("nonsense line\n") + kV2Mount},
          {"sys/fs/cgroup/a/cpu.max", "lots of 100000\n"}},
         {}},
    };
    for (const auto& test : cases) {
        FakeRoot tree(test.files);
        EXPECT_EQ(cgroup_cpu_quota(tree.root()), test.expected) << test.name;
    }
}

TEST(AvailableCpus, NeverExceedsAffinity) {
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    const std::size_t cpus = tarnix::pool::available_cpus();
    EXPECT_GE(cpus, 1u);
    EXPECT_LE(cpus, static_cast<std::size_t>(CPU_COUNT(&set)));
}

// Sets (or, for nullptr, unsets) a variable and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ConfiguredThreadCount, EnvironmentPrecedence) {
    constexpr bool kWide = sizeof(std::size_t) == 8;
    const std::size_t fallback = tarnix::pool::available_cpus();
    const std::tuple<const char*, const char*, std::size_t> cases[] = {
        {"3", "5", 3},         {"0", "5", 5},          {"junk", "7", 7},
        {nullptr, "2", 2},     {"6", nullptr, 6},      {nullptr, nullptr, fallback},
        {"0", "-2", fallback}, {"", "", fallback},
        // more than the pool can have: the most it has; a number beyond the
        // machine's word is no number (as Rust's usize parsing says)
        {"1024", "5", 1024},   {"1025", "5", 1024},    {"4294967297", nullptr, kWide ? 1024 : fallback},
        {nullptr, "18446744073709551615", kWide ? 1024 : fallback},
        {nullptr, "18446744073709551616", fallback},
    };
    for (const auto& [threads, cpus, expected] : cases) {
        ScopedEnv a("RAYON_NUM_THREADS", threads);
        ScopedEnv b("RAYON_RS_NUM_CPUS", cpus);
        EXPECT_EQ(configured_thread_count(), expected)
            << (threads ? threads : "unset") << ", " << (cpus ? cpus : "unset");
    }
}

TEST(Pool, ArenaHasWorkerCountSlots) {
    EXPECT_EQ(tarnix::pool::arena().max_concurrency(),
              static_cast<int>(tarnix::pool::worker_count()));
}

// Whether the pool has `wanted` threads, all of them running tasks at once.
bool all_threads_meet(std::size_t wanted) {
    std::atomic<std::size_t> arrived{0};
    std::atomic<bool> gave_up{false};
    tarnix::pool::for_each_index(wanted, [&](std::size_t) {
        ++arrived;
        // A safety net so a broken pool fails instead of hanging.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (arrived.load() < wanted) {
            if (std::chrono::steady_clock::now() > deadline) {
                gave_up = true;
                return;
            }
            std::this_thread::yield();
        }
    });
    return !gave_up && tarnix::pool::worker_count() == wanted;
}

// In a fresh process: a pool larger than the machine still gets all of its
// threads, so that many tasks can be waiting for each other at once; asked for
// more than it may have, it is made with the most and runs.
TEST(PoolDeathTest, RunsMoreThreadsThanCoresWhenAsked) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The second is more than an int holds, and wraps to a small one if cast.
    const char* beyond_int = sizeof(std::size_t) == 8 ? "4294967297" : "2147483649";
    const std::tuple<const char*, std::size_t, bool> cases[] = {{"6", 6, true}, {beyond_int, 1024, false}};
    for (const auto& [asked, threads, meet] : cases) {
        auto run = [&] {
            setenv("RAYON_NUM_THREADS", asked, 1);
            if (meet) std::exit(all_threads_meet(threads) ? 0 : 1);
            std::atomic<std::size_t> done{0};
            tarnix::pool::for_each_index(threads, [&](std::size_t) { ++done; });
            std::exit(done == threads && tarnix::pool::arena().max_concurrency() == static_cast<int>(threads) ? 0 : 1);
        };
        EXPECT_EXIT(run(), testing::ExitedWithCode(0), "") << asked;
    }
}

std::vector<std::uint32_t> random_values(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint32_t> values(n);
    for (auto& v : values) v = gen();
    return values;
}

void filter_map_keeps_index_order() {
    auto kept = tarnix::pool::filter_map<std::size_t>(10000, [](std::size_t i) {
        return i % 3 == 0 ? std::optional<std::size_t>(i * 2) : std::nullopt;
    });
    ASSERT_EQ(kept.size(), 3334u);
    for (std::size_t k = 0; k < kept.size(); ++k) ASSERT_EQ(kept[k], k * 6);
}

void sort_unstable_sorts_large_input() {
    auto values = random_values(300000, 7);
    auto expected = values;
    std::sort(expected.begin(), expected.end(), std::greater<>());
    tarnix::pool::sort_unstable(values.begin(), values.end(), std::greater<>());
    EXPECT_EQ(values, expected);
}

void map_into_writes_every_slot_once() {
    constexpr std::size_t n = 50000;
    std::vector<std::size_t> in(n);
    std::iota(in.begin(), in.end(), 0);
    std::vector<std::atomic<int>> calls(n);
    std::vector<std::size_t> out(n, 0);
    tarnix::pool::map_into(std::span<const std::size_t>(in), std::span<std::size_t>(out),
                           [&](std::size_t x) {
                               ++calls[x];
                               return x + 1;
                           });
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(calls[i].load(), 1) << i;
        ASSERT_EQ(out[i], i + 1) << i;
    }
}

struct Inner {
    std::size_t index;
    std::vector<std::uint32_t> sorted;
    std::vector<std::uint64_t> doubled;
    std::uint64_t sum;
};

void nested_steps_inside_pool_tasks() {
    auto results = tarnix::pool::filter_map<Inner>(48, [](std::size_t i) -> std::optional<Inner> {
        if (i % 4 == 3) return std::nullopt;
        Inner r{i, random_values(3000 + i, static_cast<unsigned>(i)), {}, 0};
        std::vector<std::uint64_t> doubled(r.sorted.size());
        std::atomic<std::uint64_t> sum{0};
        tarnix::pool::join(
            [&] { tarnix::pool::sort_unstable(r.sorted.begin(), r.sorted.end(), std::less<>()); },
            [&] {
                tarnix::pool::for_each_index(r.sorted.size(), [&](std::size_t k) { sum += k; });
            });
        tarnix::pool::map_into(std::span<const std::uint32_t>(r.sorted),
                               std::span<std::uint64_t>(doubled),
                               [](std::uint32_t v) { return std::uint64_t{v} * 2; });
        r.doubled = std::move(doubled);
        r.sum = sum;
        return r;
    });
    ASSERT_EQ(results.size(), 36u);
    std::size_t expected_index = 0;
    for (const Inner& r : results) {
        if (expected_index % 4 == 3) ++expected_index;
        EXPECT_EQ(r.index, expected_index++);
        auto expected = random_values(3000 + r.index, static_cast<unsigned>(r.index));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(r.sorted, expected);
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(r.doubled[k], std::uint64_t{expected[k]} * 2);
        }
        EXPECT_EQ(r.sum, expected.size() * (expected.size() - 1) / 2);
    }
}

void nested_exceptions_reach_the_caller() {
    auto nested_throw = [](auto make_error) {
        tarnix::pool::filter_map<int>(64, [&](std::size_t i) -> std::optional<int> {
            tarnix::pool::for_each_index(100, [&](std::size_t k) {
                if (i == 41 && k == 17) throw make_error();
            });
            return static_cast<int>(i);
        });
    };
    try {
        nested_throw([] { return std::runtime_error("inner failure"); });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "inner failure");
    }
    try {
        nested_throw([] { return tarnix::Panic("label missing"); });
        ADD_FAILURE() << "no panic";
    } catch (const tarnix::Panic& e) {
        EXPECT_EQ(e.message(), "label missing");
    }
    // The pool is still usable after a failed step.
    std::atomic<int> done{0};
    tarnix::pool::for_each_index(1000, [&](std::size_t) { ++done; });
    EXPECT_EQ(done.load(), 1000);
}

// The steps above, on the pool this process has.
const std::pair<const char*, void (*)()> kSteps[] = {
    {"filter_map", filter_map_keeps_index_order},
    {"sort_unstable", sort_unstable_sorts_large_input},
    {"map_into", map_into_writes_every_slot_once},
    {"nested", nested_steps_inside_pool_tasks},
    {"exceptions", nested_exceptions_reach_the_caller},
};

// Whether this process's pool has `threads` threads that meet and runs every step.
bool pool_works(std::size_t threads) {
    if (!all_threads_meet(threads)) return false;
    for (const auto& [name, step] : kSteps) {
        SCOPED_TRACE(name);
        step();
    }
    return !testing::Test::HasFailure();
}

TEST(Pool, Steps) {
    for (const auto& [name, step] : kSteps) {
        SCOPED_TRACE(name);
        step();
    }
}

// In a fresh process: the plain threads a forked process runs its pool on,
// without a fork (so that the thread sanitizer sees them too).
TEST(PoolDeathTest, PlainThreadsOfAForkedProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        setenv("RAYON_NUM_THREADS", "5", 1);
        tarnix::pool::forked::enter();
        std::exit(pool_works(5) ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

// fork() while another thread keeps the pool busy; in the child, check(), and
// its result as exit code. Then -1 if the child did not end within a minute.
int fork_while_busy(int (*check)()) {
    std::atomic<bool> stop{false}, busy{false};
    std::thread worker([&] {
        while (!stop) {
            tarnix::pool::for_each_index(64, [&](std::size_t) {
                busy = true;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            });
        }
    });
    while (!busy) std::this_thread::yield();
    const pid_t child = fork();
    if (child == 0) _exit(check());
    int status = 0;
    int code = -1;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        if (waitpid(child, &status, WNOHANG) == child) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
    }
    if (code == -1) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    stop = true;
    worker.join();
    return code;
}

int grandchild_check() { return pool_works(3) ? 0 : 1; }
int child_check() {
    if (!pool_works(3)) return 1;
    return fork_while_busy(grandchild_check) == 0 ? 0 : 2;  // and its own child gets a pool again
}

// In a fresh process of a pool of 3: a child forked while the pool is busy
// gets a pool of 3 threads of its own, and so does its child; the parent's
// pool goes on as it was.
TEST(PoolDeathTest, ForkWhileThePoolIsBusy) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer ends a forked child that makes threads";
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(__clang__) && __GNUC__ < 14
    // Its allocator takes no lock around fork(): a child can inherit one held by a
    // parent thread that was allocating, and wait on it for ever.
    GTEST_SKIP() << "this compiler's address sanitizer is not fork-safe in a busy process";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        setenv("RAYON_NUM_THREADS", "3", 1);
        const int child = fork_while_busy(child_check);
        std::exit(child == 0 && pool_works(3) && !tarnix::pool::forked::active() ? 0 : 10 + child);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

}  // namespace
