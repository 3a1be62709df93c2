#include "python/column_cells.hpp"

#include "boundary/error.hpp"
#include "boundary/text.hpp"

namespace tarnix {

namespace {

// str() of the cell as UTF-8; an exact str is its own str().
void add_text(TableCells& cells, std::size_t col, PyObject* cell) {
    Ref made;
    PyObject* text = cell;
    if (!PyUnicode_CheckExact(cell)) {
        text = PyObject_Str(cell);
        if (text == nullptr) panic_from("cant convert to str", PyErr::fetch());
        made = Ref::steal(text);
    }
    if (auto view = utf8_view(text)) {
        cells.add_label(col, *view);
    } else {
        cells.add_label(col, utf8_lossy(text));
    }
}

}  // namespace

void add_cell(TableCells& cells, std::size_t col, PyObject* cell) {
    if (cells.is_string(col)) return add_text(cells, col, cell);
    if (PyFloat_CheckExact(cell)) return cells.add_number(col, PyFloat_AS_DOUBLE(cell));
    double value = PyFloat_AsDouble(cell);
    if (value != -1.0 || !PyErr_Occurred()) return cells.add_number(col, value);
    PyErr::fetch();  // not a number: the column holds text from here on
    cells.turn_to_text(col);
    add_text(cells, col, cell);
}

}  // namespace tarnix
