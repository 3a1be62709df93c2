#include "python/column_cells.hpp"

#include "boundary/error.hpp"
#include "boundary/text.hpp"
#include "python/render.hpp"

namespace tarnix {

ColumnCells::ColumnCells(std::size_t cols, std::size_t rows)
    : rows_(rows), is_string_(cols), numbers_(cols), labels_(cols) {}

void ColumnCells::add(std::size_t col, PyObject* cell) {
    if (is_string_[col]) {
        add_text(col, cell);
        return;
    }
    if (numbers_[col].capacity() == 0) numbers_[col].reserve(rows_);
    if (PyFloat_CheckExact(cell)) {
        numbers_[col].push_back(PyFloat_AS_DOUBLE(cell));
        return;
    }
    double value = PyFloat_AsDouble(cell);
    if (value != -1.0 || !PyErr_Occurred()) {
        numbers_[col].push_back(value);
        return;
    }
    PyErr::fetch();  // not a number: the column holds text from here on
    turn_to_text(col);
    add_text(col, cell);
}

void ColumnCells::turn_to_text(std::size_t col) {
    is_string_[col] = 1;
    LabelColumn& labels = labels_[col];
    labels.reserve(rows_);
    for (double number : numbers_[col]) labels.push_back(render_double(number));
    std::vector<double>().swap(numbers_[col]);
}

// str() of the cell as UTF-8; an exact str is its own str().
void ColumnCells::add_text(std::size_t col, PyObject* cell) {
    if (PyUnicode_CheckExact(cell)) {
        if (auto view = utf8_view(cell)) {
            labels_[col].push_back(*view);
            return;
        }
        labels_[col].push_back(utf8_lossy(cell));
        return;
    }
    PyObject* text = PyObject_Str(cell);
    if (text == nullptr) panic_from("cant convert to str", PyErr::fetch());
    Ref owned = Ref::steal(text);
    if (auto view = utf8_view(text)) {
        labels_[col].push_back(*view);
    } else {
        labels_[col].push_back(utf8_lossy(text));
    }
}

}  // namespace tarnix
