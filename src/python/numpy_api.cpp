#define TARNIX_NUMPY_API_OWNER
#include "python/numpy_api.hpp"

#include "boundary/error.hpp"
#include "boundary/once.hpp"

namespace tarnix::numpy {

namespace {
Once imported;
}  // namespace

void ensure_api() {
    call_once_detached(imported, [] {
        if (_import_array() < 0) panic_from("Failed to access NumPy array API capsule", PyErr::fetch());
    });
}

}  // namespace tarnix::numpy
