// Times the parallel column stage alone (label encoding of the text columns
// and the matrix writes) on a table shaped like the benchmark's DataFrame:
// text columns of cardinality 10, 1,000, 100,000 and `rows`, about 1%
// missing, and four numeric columns. The pool size comes from
// RAYON_NUM_THREADS like the module's.
//
//   column_stage_bench [rows] [repeats]   -> one line: "<median seconds> <threads>"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/column_stage.hpp"
#include "pool/pool.hpp"
#include "core/records.hpp"

using namespace tarnix;

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::size_t cardinalities[] = {10, 1'000, 100'000, rows};
    const std::size_t cols = 8;

    std::mt19937_64 random(7);
    TableCells cells(rows, cols);
    char label[32];
    for (std::size_t col = 0; col < 4; ++col) {
        cells.turn_to_text(col);
        std::uniform_int_distribution<std::size_t> pick(0, cardinalities[col] - 1);
        for (std::size_t row = 0; row < rows; ++row) {
            if (random() % 100 == 0) {
                cells.add_label(col, "nan");
                continue;
            }
            const int n = std::snprintf(label, sizeof label, "k%07zu", pick(random));
            cells.add_label(col, std::string_view(label, static_cast<std::size_t>(n)));
        }
    }
    std::uniform_real_distribution<double> uniform(0, 1);
    for (std::size_t col = 4; col < cols; ++col) {
        for (std::size_t row = 0; row < rows; ++row) cells.add_number(col, uniform(random) * 1e6);
    }

    std::vector<double> seconds;
    for (int i = 0; i < repeats; ++i) {
        DoubleBuffer matrix = DoubleBuffer::zeroed(rows * cols);
        const auto start = std::chrono::steady_clock::now();
        auto results = run_column_stage(cells, SendPtr(matrix.data()));
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.6f %zu\n", seconds[seconds.size() / 2], pool::worker_count());
    return 0;
}
