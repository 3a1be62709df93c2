// Label encoding of one column: distinct labels in byte order get the dense
// codes 0..k-1, missing labels get none and encode as NaN.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding_info.hpp"
#include "core/label_column.hpp"
#include "core/memo_table.hpp"
#include "pool/pool.hpp"

namespace tarnix {

struct LabelEncoding {
    std::vector<double> codes;  // one per input label, in input order
    CodedLabels labels;         // the labels with a code, in code order
};

// Runs its parallel steps on the worker pool; may be called from inside a pool
// task.
LabelEncoding label_encode(const LabelColumn& labels);

// label_encode in two steps, so that the records of several columns can be built
// side by side: first the codes...
struct LabelCodes {
    std::vector<std::string_view> distinct;  // the distinct labels, views into storage or a category list
    std::vector<LabelList> storage;
    std::vector<double> code_of_distinct;    // code of each (NaN for missing labels)
    std::vector<double> codes;               // code of each row, unless written to `into`
};
// With `into`, the code of row r goes to into[r] (room for every row), not
// to `codes`.
LabelCodes code_labels(const LabelColumn& labels, double* into = nullptr);

// A categorical column: the text of every category (kept elsewhere, for as
// long as the column) and, for every row, the number of its category (a
// signed integer of code_bytes bytes; -1 for a missing cell).
struct CategoryColumn {
    const LabelList* categories = nullptr;
    const char* codes = nullptr;   // the first row's code
    std::ptrdiff_t stride = 0;     // bytes from one row's code to the next
    int code_bytes = 1;            // 1, 2, 4 or 8
    std::size_t rows = 0;
    std::size_t first_valid = 0;   // the first row with a category
    // The code of row first_valid when it was read to find that row: the rows
    // up to it are not read again (their owner may change them meanwhile).
    std::optional<std::int64_t> first_code;
    bool all_used = false;         // every category is some row's (no missing cells either)

    std::int64_t code(std::size_t row) const noexcept;
};

// The codes of a categorical column, as code_labels would give them for its
// cells read one by one (the categories' text, "NaN" for missing cells before
// the first valid one and "nan" after it): only the categories that occur get
// codes, in byte order of their text. A code outside the categories is a
// fatal error. Each row's code is read once, so a row is coded by the category
// it held when read, even if its owner changes the codes meanwhile.
LabelCodes code_categories(const CategoryColumn& column, double* into = nullptr);

// The code of each distinct label: its rank in byte order among those that
// are not missing labels; NaN for those.
std::vector<double> codes_of_labels(const std::vector<std::string_view>& distinct);

// ...then the labels in code order (the column, which `distinct` may view,
// must still live).
CodedLabels coded_labels_of(const LabelCodes& coded);

// label_of(code) for each code in [0, count), in one arena. The labels may
// lie in no useful order: ahead(code) fetches what label_of(code) will read,
// some codes ahead.
template <class LabelOf, class Ahead>
CodedLabels labels_in_code_order(std::size_t count, const LabelOf& label_of, const Ahead& ahead) {
    constexpr std::size_t kAhead = 16;
    std::vector<std::size_t> ends(count);
    std::size_t bytes = 0;
    for (std::size_t code = 0; code < count; ++code) {
        if (code + kAhead < count) ahead(code + kAhead);
        ends[code] = bytes += label_of(code).size();
    }
    std::string arena(bytes, '\0');
    pool::for_each_block(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t code = begin; code < end; ++code) {
            if (code + kAhead < end) __builtin_prefetch(label_of(code + kAhead).data());
            const std::string_view label = label_of(code);
            label.copy(arena.data() + ends[code] - label.size(), label.size());
        }
    });
    return CodedLabels(std::move(arena), std::move(ends));
}

// A column whose rows are numbers of its labels (ids[row] < labels.size(),
// every label some row's, as a LabelDictionary keeps them), coded as
// code_labels codes its labels: each row's code goes to into[row], and the
// labels come back in code order. Holds a few bytes per label besides the
// result.
CodedLabels code_numbered(const LabelList& labels, const std::int32_t* ids, std::size_t rows, double* into);

}  // namespace tarnix
