// Argument matching: slot assignment and every TypeError text, byte for byte.
#include "core/arg_match.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

using tarnix::ArgumentSlots;
using tarnix::CallableDescription;
using tarnix::KeywordName;
using tarnix::KeywordOnlyParameter;
using tarnix::match_arguments;
using Outcome = std::variant<ArgumentSlots, std::string>;

constexpr std::string_view kEncodingNames[] = {"encoding"};
constexpr std::string_view kObjNames[] = {"obj"};

const CallableDescription kNew{"Encoder", "__new__", kEncodingNames, 0, 0, {}};
const CallableDescription kEncode{"Encoder", "encode", kObjNames, 0, 1, {}};
const CallableDescription kDecode{"Encoder", "decode", kObjNames, 0, 1, {}};

// f(a, b, /, c, d=None, *, k, m=None, p): slots a b c d k m p.
constexpr std::string_view kFNames[] = {"a", "b", "c", "d"};
constexpr KeywordOnlyParameter kFKeywordOnly[] = {{"k", true}, {"m", false}, {"p", true}};
const CallableDescription kF{std::nullopt, "f", kFNames, 2, 3, kFKeywordOnly};

// g(*, k=None): no positional parameters at all.
constexpr KeywordOnlyParameter kGKeywordOnly[] = {{"k", false}};
const CallableDescription kG{std::nullopt, "g", {}, 0, 0, kGKeywordOnly};

constexpr std::nullopt_t _ = std::nullopt;

struct Call {
    const char* label;
    const CallableDescription* callable;
    std::size_t positional_count;
    std::vector<KeywordName> keywords;
    Outcome expected;
    // str() of each keyword when it is not just its name (str subclasses,
    // names without UTF-8); empty means "the name itself".
    std::vector<std::string> display = {};
};

void PrintTo(const Call& c, std::ostream* os) { *os << c.label; }

std::string describe(const Outcome& outcome) {
    if (const auto* message = std::get_if<std::string>(&outcome)) return "TypeError: " + *message;
    std::string text = "slots:";
    for (const auto& slot : std::get<ArgumentSlots>(outcome))
        text += slot ? " " + std::to_string(*slot) : " -";
    return text;
}

class MatchArguments : public ::testing::TestWithParam<Call> {};

TEST_P(MatchArguments, GivesSlotsOrMessage) {
    const Call& call = GetParam();
    const tarnix::KeywordDisplay display = [&](std::size_t i) -> std::string {
        if (i < call.display.size()) return call.display[i];
        if (i < call.keywords.size() && call.keywords[i]) return std::string(*call.keywords[i]);
        return "<display asked for keyword " + std::to_string(i) + ">";
    };
    const Outcome got =
        match_arguments(*call.callable, call.positional_count, call.keywords, display);
    EXPECT_EQ(describe(got), describe(call.expected));
}

std::string msg(const char* text) { return text; }

const Call kCalls[] = {
    // Encoder(...)
    {"new_nothing", &kNew, 0, {}, ArgumentSlots{_}},
    {"new_positional", &kNew, 1, {}, ArgumentSlots{0}},
    {"new_keyword", &kNew, 0, {"encoding"}, ArgumentSlots{0}},
    {"new_two_positional", &kNew, 2, {},
     msg("Encoder.__new__() takes from 0 to 1 positional arguments but 2 were given")},
    {"new_three_positional_with_keyword", &kNew, 3, {"encoding"},
     msg("Encoder.__new__() takes from 0 to 1 positional arguments but 3 were given")},
    {"new_unexpected", &kNew, 0, {"strategy"},
     msg("Encoder.__new__() got an unexpected keyword argument 'strategy'")},
    {"new_unexpected_after_valid", &kNew, 0, {"encoding", "extra"},
     msg("Encoder.__new__() got an unexpected keyword argument 'extra'")},
    {"new_multiple", &kNew, 1, {"encoding"},
     msg("Encoder.__new__() got multiple values for argument 'encoding'")},

    // encode / decode
    {"encode_positional", &kEncode, 1, {}, ArgumentSlots{0}},
    {"encode_keyword", &kEncode, 0, {"obj"}, ArgumentSlots{0}},
    {"encode_two_positional", &kEncode, 2, {},
     msg("Encoder.encode() takes 1 positional arguments but 2 were given")},
    {"encode_missing", &kEncode, 0, {},
     msg("Encoder.encode() missing 1 required positional argument: 'obj'")},
    {"encode_multiple", &kEncode, 1, {"obj"},
     msg("Encoder.encode() got multiple values for argument 'obj'")},
    {"decode_multiple", &kDecode, 1, {"obj"},
     msg("Encoder.decode() got multiple values for argument 'obj'")},
    {"decode_too_many_before_keywords", &kDecode, 2, {"obj"},
     msg("Encoder.decode() takes 1 positional arguments but 2 were given")},
    {"decode_too_many_before_unexpected", &kDecode, 3, {"bogus"},
     msg("Encoder.decode() takes 1 positional arguments but 3 were given")},
    {"encode_too_many_before_undecodable", &kEncode, 2, {_},
     msg("Encoder.encode() takes 1 positional arguments but 2 were given"), {"bad\\udcff"}},
    {"encode_unexpected_before_missing", &kEncode, 0, {"bogus"},
     msg("Encoder.encode() got an unexpected keyword argument 'bogus'")},
    {"encode_unexpected_is_case_sensitive", &kEncode, 1, {"Obj"},
     msg("Encoder.encode() got an unexpected keyword argument 'Obj'")},
    {"encode_unexpected_shows_str", &kEncode, 1, {"strategy"},
     msg("Encoder.encode() got an unexpected keyword argument 'Strategy!'"), {"Strategy!"}},
    {"encode_undecodable_name", &kEncode, 0, {_},
     msg("Encoder.encode() got an unexpected keyword argument 'bad\\udcff'"), {"bad\\udcff"}},
    {"encode_undecodable_stops_before_valid", &kEncode, 0, {_, "obj"},
     msg("Encoder.encode() got an unexpected keyword argument 'x'"), {"x", "obj"}},
    {"encode_keywords_in_order_multiple_first", &kEncode, 1, {"obj", "bogus"},
     msg("Encoder.encode() got multiple values for argument 'obj'")},
    {"encode_keywords_in_order_unexpected_first", &kEncode, 1, {"bogus", "obj"},
     msg("Encoder.encode() got an unexpected keyword argument 'bogus'")},

    // f(a, b, /, c, d=None, *, k, m=None, p)
    {"f_all_positional", &kF, 4, {"k", "p"}, ArgumentSlots{0, 1, 2, 3, 4, _, 5}},
    {"f_keywords_fill_slots", &kF, 2, {"p", "c", "k"}, ArgumentSlots{0, 1, 3, _, 4, _, 2}},
    {"f_every_slot", &kF, 3, {"m", "k", "p", "d"}, ArgumentSlots{0, 1, 2, 6, 4, 3, 5}},
    {"f_too_many", &kF, 5, {"k", "p"},
     msg("f() takes from 3 to 4 positional arguments but 5 were given")},
    {"g_too_many_was", &kG, 1, {}, msg("g() takes 0 positional arguments but 1 was given")},
    {"g_keyword_only", &kG, 0, {"k"}, ArgumentSlots{0}},
    {"f_missing_three", &kF, 0, {},
     msg("f() missing 3 required positional arguments: 'a', 'b', and 'c'")},
    {"f_missing_two", &kF, 0, {"c", "k", "p"},
     msg("f() missing 2 required positional arguments: 'a' and 'b'")},
    {"f_missing_one", &kF, 1, {"c"}, msg("f() missing 1 required positional argument: 'b'")},
    {"f_missing_positional_before_keyword", &kF, 2, {},
     msg("f() missing 1 required positional argument: 'c'")},
    {"f_missing_two_keyword", &kF, 3, {"m"},
     msg("f() missing 2 required keyword arguments: 'k' and 'p'")},
    {"f_missing_one_keyword", &kF, 4, {"k"},
     msg("f() missing 1 required keyword argument: 'p'")},
    {"f_multiple_values", &kF, 3, {"c"}, msg("f() got multiple values for argument 'c'")},
    {"f_positional_only", &kF, 3, {"a", "k", "p"},
     msg("f() got some positional-only arguments passed as keyword arguments: 'a'")},
    {"f_positional_only_in_keyword_order", &kF, 0, {"b", "c", "a"},
     msg("f() got some positional-only arguments passed as keyword arguments: 'b' and 'a'")},
    {"f_positional_only_before_missing", &kF, 0, {"a"},
     msg("f() got some positional-only arguments passed as keyword arguments: 'a'")},
    {"f_positional_only_even_if_filled", &kF, 2, {"b"},
     msg("f() got some positional-only arguments passed as keyword arguments: 'b'")},
    {"f_positional_only_after_unexpected", &kF, 1, {"a", "bogus"},
     msg("f() got an unexpected keyword argument 'bogus'")},
    {"f_positional_only_after_multiple", &kF, 3, {"a", "c"},
     msg("f() got multiple values for argument 'c'")},
};

INSTANTIATE_TEST_SUITE_P(Calls, MatchArguments, ::testing::ValuesIn(kCalls),
                         [](const auto& info) { return std::string(info.param.label); });

struct NameList {
    std::vector<std::string_view> names;
    const char* expected;
};

class QuotedNameList : public ::testing::TestWithParam<NameList> {};

TEST_P(QuotedNameList, JoinsNames) {
    EXPECT_EQ(tarnix::quoted_name_list(GetParam().names), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lists, QuotedNameList,
                         ::testing::Values(NameList{{"a"}, "'a'"},
                                           NameList{{"a", "b"}, "'a' and 'b'"},
                                           NameList{{"a", "b", "c"}, "'a', 'b', and 'c'"},
                                           NameList{{"w", "x", "y", "z"},
                                                    "'w', 'x', 'y', and 'z'"}));

TEST(CallableDescriptionTest, FullName) {
    EXPECT_EQ(kNew.full_name(), "Encoder.__new__()");
    EXPECT_EQ(kDecode.full_name(), "Encoder.decode()");
    EXPECT_EQ(kF.full_name(), "f()");
}

}  // namespace
