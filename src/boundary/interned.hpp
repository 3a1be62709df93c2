// Interned names of attributes, methods, modules and keywords the module
// passes to the interpreter: one table, each str made once per process.
#pragma once

#include "boundary/python.hpp"

// X(function, text)
#define TARNIX_INTERNED_NAMES(X)                                    \
    X(add_note, "add_note")                                         \
    X(dunder_all, "__all__")                                        \
    X(dunder_arrow_array, "__arrow_array__")                        \
    X(dunder_arrow_c_stream, "__arrow_c_stream__")                  \
    X(dunder_module, "__module__")                                  \
    X(dunder_name, "__name__")                                      \
    X(array, "array")                                               \
    X(astype, "astype")                                             \
    X(atexit, "atexit")                                             \
    X(categories, "categories")                                     \
    X(codes, "codes")                                               \
    X(columns, "columns")                                           \
    X(copy, "copy")                                                 \
    X(create_dataframe_from_blocks, "create_dataframe_from_blocks") \
    X(DataFrame, "DataFrame")                                       \
    X(data_, "_data")                                               \
    X(dtype, "dtype")                                               \
    X(dtypes, "dtypes")                                             \
    X(float64, "float64")                                           \
    X(iloc, "iloc")                                                 \
    X(Index, "Index")                                               \
    X(isetitem, "isetitem")                                         \
    X(mask_, "_mask")                                               \
    X(memmap, "memmap")                                             \
    X(na_value, "na_value")                                         \
    X(numpy, "numpy")                                               \
    X(object, "object")                                             \
    X(pandas, "pandas")                                             \
    X(pandas_api_internals, "pandas.api.internals")                 \
    X(pyarrow_dtype, "pyarrow_dtype")                               \
    X(RangeIndex, "RangeIndex")                                     \
    X(register_, "register")                                        \
    X(Series, "Series")                                             \
    X(shape, "shape")                                               \
    X(storage, "storage")                                           \
    X(to_numpy, "to_numpy")                                         \
    X(tolist, "tolist")                                             \
    X(values, "values")

namespace tarnix::interned {

#define TARNIX_INTERNED_DECLARE(function, text) PyObject* function();
TARNIX_INTERNED_NAMES(TARNIX_INTERNED_DECLARE)
#undef TARNIX_INTERNED_DECLARE

}  // namespace tarnix::interned
