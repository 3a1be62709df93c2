// Times the parallel column stage alone (label encoding of the text columns
// and the matrix writes) on a table shaped like the benchmark's DataFrame:
// text columns of cardinality 10, 1,000, 100,000 and `rows`, about 1%
// missing, and four numeric columns. The pool size comes from
// RAYON_NUM_THREADS like the module's.
//
//   column_stage_bench [rows] [repeats] [how]
//     -> one line: "<median seconds> <threads> <median CPU seconds of the process>"
//
// `how`: "cells" (the default) reads the text cell by cell before the timing
// and times the stage; "read" times reading the text cells too (a column
// read cell by cell numbers its labels as they arrive); "arrow" holds the
// text columns in Arrow memory (utf8 arrays of 2^16-row chunks with a
// validity bitmap), coded where they lie into a column-major matrix, as a
// DataFrame's are; "arrow-few" too, with text columns of 10, 100, 1,000 and
// 4,000 labels, each coded straight into its codes.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/column_stage.hpp"
#include "pool/pool.hpp"
#include "core/records.hpp"

using namespace tarnix;

namespace {

constexpr std::size_t kCols = 8;
constexpr std::size_t kChunkRows = std::size_t{1} << 16;

// The labels of a text column: -1 for a missing cell, else the label's number.
std::vector<std::int64_t> draw_column(std::mt19937_64& random, std::size_t rows, std::size_t cardinality) {
    std::uniform_int_distribution<std::size_t> pick(0, cardinality - 1);
    std::vector<std::int64_t> column(rows);
    for (auto& cell : column) cell = random() % 100 == 0 ? -1 : static_cast<std::int64_t>(pick(random));
    return column;
}

std::string label_of(std::int64_t number) {
    char label[32];
    const int n = std::snprintf(label, sizeof label, "k%07lld", static_cast<long long>(number));
    return std::string(label, static_cast<std::size_t>(n));
}

// One utf8 array and its buffers, released as a producer releases it.
struct Utf8Chunk {
    std::vector<std::uint8_t> validity;
    std::vector<std::int32_t> offsets{0};
    std::string data;
    const void* buffers[3] = {};
};

ArrowChunks arrow_column(const std::vector<std::int64_t>& column) {
    ArrowChunks chunks(ArrowType::String);
    for (std::size_t first = 0; first < column.size(); first += kChunkRows) {
        const std::size_t length = std::min(kChunkRows, column.size() - first);
        auto chunk = std::make_unique<Utf8Chunk>();
        chunk->validity.assign((length + 7) / 8, 0);
        for (std::size_t row = 0; row < length; ++row) {
            const std::int64_t number = column[first + row];
            if (number >= 0) {
                chunk->validity[row / 8] |= static_cast<std::uint8_t>(1u << (row % 8));
                chunk->data += label_of(number);
            }
            chunk->offsets.push_back(static_cast<std::int32_t>(chunk->data.size()));
        }
        chunk->buffers[0] = chunk->validity.data();
        chunk->buffers[1] = chunk->offsets.data();
        chunk->buffers[2] = chunk->data.data();
        ArrowArrayOwned array;
        ArrowArray& raw = *array.get();
        raw.length = static_cast<std::int64_t>(length);
        raw.null_count = -1;
        raw.n_buffers = 3;
        raw.buffers = chunk->buffers;
        raw.private_data = chunk.release();
        raw.release = [](ArrowArray* a) {
            delete static_cast<Utf8Chunk*>(a->private_data);
            a->release = nullptr;
        };
        chunks.add(std::move(array));
    }
    return chunks;
}

void read_text(TableCells& cells, std::size_t col, const std::vector<std::int64_t>& column) {
    cells.turn_to_text(col);
    for (std::int64_t number : column) cells.add_label(col, number < 0 ? std::string("nan") : label_of(number));
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string how = argc > 3 ? argv[3] : "cells";
    if (how != "cells" && how != "read" && how != "arrow" && how != "arrow-few") {
        std::fprintf(stderr, "column_stage_bench: `how` is cells, read, arrow or arrow-few, not %s\n", how.c_str());
        return 2;
    }
    const bool arrow = how.starts_with("arrow");
    const std::vector<std::size_t> cardinalities =
        how == "arrow-few" ? std::vector<std::size_t>{10, 100, 1'000, 4'000} : std::vector<std::size_t>{10, 1'000, 100'000, rows};

    std::mt19937_64 random(7);
    std::vector<std::vector<std::int64_t>> text;
    for (std::size_t cardinality : cardinalities) text.push_back(draw_column(random, rows, cardinality));
    std::uniform_real_distribution<double> uniform(0, 1);
    std::vector<std::vector<double>> numbers(kCols - text.size());
    for (auto& column : numbers) {
        column.resize(rows);
        for (double& cell : column) cell = uniform(random) * 1e6;
    }
    auto make_cells = [&](bool read_cells) {
        auto cells = std::make_unique<TableCells>(rows, kCols);
        for (std::size_t col = 0; col < text.size(); ++col) {
            if (arrow) {
                cells->set_arrow_text(col, ArrowText(arrow_column(text[col]), true));
            } else if (read_cells) {
                read_text(*cells, col, text[col]);
            }
        }
        for (std::size_t col = text.size(); col < kCols; ++col) {
            for (double cell : numbers[col - text.size()]) cells->add_number(col, cell);
        }
        return cells;
    };

    std::unique_ptr<TableCells> cells = make_cells(true);
    std::vector<double> seconds, cpu_seconds;
    auto cpu_now = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    for (int i = 0; i < repeats; ++i) {
        if (how == "read") cells = make_cells(false);
        DoubleBuffer matrix = DoubleBuffer::zeroed(rows * kCols);
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_now();
        if (how == "read") {
            for (std::size_t col = 0; col < text.size(); ++col) read_text(*cells, col, text[col]);
        }
        auto results = run_column_stage(*cells, SendPtr(matrix.data()),
                                        arrow ? MatrixOrder::ColumnMajor : MatrixOrder::RowMajor);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpu_seconds.push_back(cpu_now() - cpu_start);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpu_seconds.begin(), cpu_seconds.end());
    std::printf("%.6f %zu %.6f\n", seconds[seconds.size() / 2], pool::worker_count(), cpu_seconds[cpu_seconds.size() / 2]);
    return 0;
}
