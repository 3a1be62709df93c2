// The memo table: ids in order of first arrival, found again by bytes alone,
// whatever the hashes have in common, across the index's growth.
#include "core/memo_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

enum class Hashes { Own, AllEqual };

struct Memo {
    const char* label;
    std::vector<std::string> labels;  // inserted in this order
    Hashes hashes = Hashes::Own;
};

void PrintTo(const Memo& m, std::ostream* os) { *os << m.label; }

// `count` distinct labels, each arriving twice, the repeats interleaved.
std::vector<std::string> twice(int count, const std::string& prefix) {
    std::vector<std::string> labels;
    for (int i = 0; i < count; ++i) {
        labels.push_back(prefix + std::to_string(i));
        if (i % 2 == 1) labels.push_back(prefix + std::to_string(i / 2));
    }
    for (int i = count / 2; i < count; ++i) labels.push_back(prefix + std::to_string(i));
    return labels;
}

template <class Id>
void expect_memo(const Memo& m) {
    auto hash_of = [&](const std::string& label) {
        return m.hashes == Hashes::Own ? tarnix::hash64(label) : std::uint64_t{0x5eed};
    };
    std::map<std::string, Id> first;  // the id each label must get
    std::vector<Id> expected;
    for (const std::string& label : m.labels) expected.push_back(first.emplace(label, first.size()).first->second);

    tarnix::MemoTable<Id> memo;
    std::vector<Id> ids;
    for (const std::string& label : m.labels) {
        const std::size_t before = memo.size();
        const auto [id, inserted] = memo.insert(label, hash_of(label));
        EXPECT_EQ(inserted, id == before) << label;
        ids.push_back(id);
    }
    EXPECT_EQ(ids, expected);
    ASSERT_EQ(memo.size(), first.size());
    for (const auto& [label, id] : first) {
        EXPECT_EQ(memo.view(id), label);
        EXPECT_EQ(memo.find(label, hash_of(label)), id);
        const std::string longer = label + "\0"s;
        const auto it = first.find(longer);
        EXPECT_EQ(memo.find(longer, hash_of(longer)), it == first.end() ? std::nullopt : std::optional(it->second));
    }
    std::vector<Id> by_bytes;
    for (const auto& [label, id] : first) by_bytes.push_back(id);  // std::map orders bytes as unsigned
    EXPECT_EQ(memo.ids_in_byte_order(), by_bytes);

    if (m.hashes == Hashes::Own) {
        tarnix::MemoTable<Id> batch;
        std::vector<Id> batch_ids(m.labels.size());
        batch.get_or_insert_all(m.labels.size(), [&](std::size_t i) { return std::string_view(m.labels[i]); },
                                batch_ids.data());
        EXPECT_EQ(batch_ids, expected);
    }
}

class MemoTables : public ::testing::TestWithParam<Memo> {};

TEST_P(MemoTables, NumbersLabelsByFirstArrival) {
    expect_memo<std::uint32_t>(GetParam());
    expect_memo<std::uint64_t>(GetParam());
}

const Memo kMemos[] = {
    {"arrival_order_and_repeats", {"b", "a", "b", "", "a", "c", "", "b"}},
    {"bytes_not_text", {"a", "a\0"s, "ab", "\0"s, "", "a\0\0"s, "a\0"s, "\xff", "\x7f"}},
    // up to 8 bytes a label is told from another by its short key and length
    {"short_keys_and_lengths", {"ab", "abb", "aaaa", "aaaaa", "aaaaaaaa", "abcdefg", "abcdxfg", "ab", "abb"}},
    {"long_labels", {std::string(70, 'x'), std::string(69, 'x') + "y", std::string(70, 'x'), "nine byte", "nine_byte"}},
    // ordered past the first 8 and 12 bytes, zero bytes against the padding
    {"byte_order_past_twelve_bytes", {"0123456789", "0123456789\0"s, "0123456789abcdef", "0123456789abcdeg",
                                        "0123456789abcdef\0"s, "0123456789abcdef!", "0123456789abcdee~~",
                                        "0123456789\0\0\0\0\0\0\0"s, "01234567"}},
    {"growth_past_many_doublings", twice(5'000, "k")},
    {"one_hash_for_all", {"label x ..", "label y ..", "label x ..", "label z ..", "label y .."}, Hashes::AllEqual},
    {"one_hash_for_all_past_doublings", twice(100, "a longer label "), Hashes::AllEqual},
};

INSTANTIATE_TEST_SUITE_P(Memos, MemoTables, ::testing::ValuesIn(kMemos),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
