#include "core/arg_match.hpp"

namespace tarnix {

namespace {

std::string plural(std::size_t count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

std::string missing_message(const std::string& full_name, const char* kind,
                            std::span<const std::string_view> names) {
    return full_name + " missing " + std::to_string(names.size()) + " required " + kind + " " +
           plural(names.size(), "argument", "arguments") + ": " + quoted_name_list(names);
}

}  // namespace

std::string CallableDescription::full_name() const {
    std::string name;
    if (class_name) {
        name.append(*class_name);
        name.push_back('.');
    }
    name.append(function_name);
    name.append("()");
    return name;
}

std::string quoted_name_list(std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                list += " and ";
            } else {
                list += i + 1 == names.size() ? ", and " : ", ";
            }
        }
        list += '\'';
        list.append(names[i]);
        list += '\'';
    }
    return list;
}

std::variant<ArgumentSlots, std::string> match_arguments(
    const CallableDescription& callable, std::size_t positional_count,
    std::span<const KeywordName> keywords, const KeywordDisplay& display) {
    const auto& positional = callable.positional_parameter_names;
    const auto& keyword_only = callable.keyword_only_parameters;
    const std::size_t max_positional = positional.size();
    ArgumentSlots slots(callable.parameter_count());

    for (std::size_t i = 0; i < std::min(positional_count, max_positional); ++i) slots[i] = i;

    if (positional_count > max_positional) {
        std::string message = callable.full_name() + " takes ";
        if (callable.required_positional_count == max_positional) {
            message += std::to_string(max_positional);
        } else {
            message += "from " + std::to_string(callable.required_positional_count) + " to " +
                       std::to_string(max_positional);
        }
        message += " positional arguments but " + std::to_string(positional_count) + " " +
                   plural(positional_count, "was", "were") + " given";
        return message;
    }

    std::vector<std::string_view> positional_only_by_keyword;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        const std::size_t argument = positional_count + k;
        if (!keywords[k]) {
            return callable.full_name() + " got an unexpected keyword argument '" + display(k) + "'";
        }
        const std::string_view name = *keywords[k];
        std::optional<std::size_t> slot;
        bool positional_only = false;
        for (std::size_t j = 0; j < keyword_only.size() && !slot; ++j) {
            if (keyword_only[j].name == name) slot = max_positional + j;
        }
        for (std::size_t j = 0; j < max_positional && !slot && !positional_only; ++j) {
            if (positional[j] != name) continue;
            if (j < callable.positional_only_count) {
                positional_only = true;
            } else {
                slot = j;
            }
        }
        if (positional_only) {
            positional_only_by_keyword.push_back(name);
        } else if (!slot) {
            return callable.full_name() + " got an unexpected keyword argument '" + display(k) + "'";
        } else if (slots[*slot]) {
            return callable.full_name() + " got multiple values for argument '" +
                   std::string(name) + "'";
        } else {
            slots[*slot] = argument;
        }
    }

    if (!positional_only_by_keyword.empty()) {
        return callable.full_name() +
               " got some positional-only arguments passed as keyword arguments: " +
               quoted_name_list(positional_only_by_keyword);
    }

    if (positional_count < callable.required_positional_count) {
        std::vector<std::string_view> missing;
        for (std::size_t j = positional_count; j < callable.required_positional_count; ++j) {
            if (!slots[j]) missing.push_back(positional[j]);
        }
        if (!missing.empty()) return missing_message(callable.full_name(), "positional", missing);
    }

    std::vector<std::string_view> missing_keywords;
    for (std::size_t j = 0; j < keyword_only.size(); ++j) {
        if (keyword_only[j].required && !slots[max_positional + j]) {
            missing_keywords.push_back(keyword_only[j].name);
        }
    }
    if (!missing_keywords.empty()) {
        return missing_message(callable.full_name(), "keyword", missing_keywords);
    }
    return slots;
}

}  // namespace tarnix
