// Matching call arguments to parameters, and the exact TypeError texts when
// they do not fit. Works on names only; the Python side lives in args.hpp.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnix {

struct KeywordOnlyParameter {
    std::string_view name;
    bool required;
};

struct CallableDescription {
    std::optional<std::string_view> class_name;
    std::string_view function_name;
    std::span<const std::string_view> positional_parameter_names;
    std::size_t positional_only_count;
    std::size_t required_positional_count;
    std::span<const KeywordOnlyParameter> keyword_only_parameters;

    std::size_t parameter_count() const noexcept {
        return positional_parameter_names.size() + keyword_only_parameters.size();
    }
    // "Encoder.encode()", or "f()" without a class.
    std::string full_name() const;
};

// Which argument fills each parameter slot: an index into the positional
// arguments followed by the keyword arguments, or nothing.
using ArgumentSlots = std::vector<std::optional<std::size_t>>;

// A keyword argument's name: its UTF-8 text, or nothing when the name has none.
using KeywordName = std::optional<std::string_view>;

// The text shown for keyword i in the unexpected-keyword message (its str()).
using KeywordDisplay = std::function<std::string(std::size_t)>;

// The slots, or the TypeError message.
std::variant<ArgumentSlots, std::string> match_arguments(
    const CallableDescription& callable, std::size_t positional_count,
    std::span<const KeywordName> keywords, const KeywordDisplay& display);

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_name_list(std::span<const std::string_view> names);

}  // namespace tarnix
