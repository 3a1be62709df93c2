#include "python/column_cells.hpp"

#include "boundary/error.hpp"
#include "boundary/text.hpp"

namespace tarnix {

namespace {

// Cells of these types convert without running any Python code.
bool converts_natively(PyObject* cell) {
    return PyUnicode_CheckExact(cell) || PyFloat_CheckExact(cell) || PyLong_CheckExact(cell) ||
           PyBool_Check(cell) || cell == Py_None;
}

// str() of the cell as UTF-8; an exact str is its own str(). ASCII text is
// taken as it lies in the str; other text is converted into a buffer of the
// call, so nothing is left behind in the object.
void add_text(TableCells& cells, std::size_t col, PyObject* cell) {
    Ref made;
    PyObject* text = cell;
    if (!PyUnicode_CheckExact(cell)) {
        made = Ref::steal(PyObject_Str(cell));
        if (!made) panic_from("cant convert to str", PyErr::fetch());
        text = made.get();
    }
    if (auto ascii = ascii_view(text)) return cells.add_label(col, *ascii);
    std::string& utf8 = cells.scratch();
    utf8.clear();
    append_utf8(text, utf8);
    cells.add_label(col, utf8);
}

}  // namespace

void add_cell(TableCells& cells, std::size_t col, PyObject* cell) {
    if (!converts_natively(cell)) cells.settle();
    if (cells.is_string(col)) return add_text(cells, col, cell);
    if (PyFloat_CheckExact(cell)) return cells.add_number(col, PyFloat_AS_DOUBLE(cell));
    double value = PyFloat_AsDouble(cell);
    if (value != -1.0 || !PyErr_Occurred()) return cells.add_number(col, value);
    // An ordinary exception means not a number: the column holds text from
    // here on. Any other (KeyboardInterrupt...) ends the call.
    pass_on_unless_ordinary(PyErr::fetch());
    cells.turn_to_text(col);
    add_text(cells, col, cell);
}

}  // namespace tarnix
