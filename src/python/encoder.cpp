#include "python/encoder.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>

#include "boundary/args.hpp"
#include "boundary/guard.hpp"
#include "python/convert.hpp"
#include "python/output.hpp"

namespace tarnix {

namespace {

struct EncoderObject {
    PyObject_HEAD
    std::unique_ptr<EncodingInfo> encoding_info;
    std::atomic<std::int32_t> borrow_flag;
};

EncoderObject* as_encoder(PyObject* self) { return reinterpret_cast<EncoderObject*>(self); }

// --- holds -----------------------------------------------------------------

class ExclusiveHold {
public:
    static Result<ExclusiveHold> take(EncoderObject* self) {
        std::int32_t expected = 0;
        if (!self->borrow_flag.compare_exchange_strong(expected, -1)) {
            return PyErr::lazy(PyExc_RuntimeError, "Already borrowed");
        }
        return ExclusiveHold(self);
    }
    ExclusiveHold(ExclusiveHold&& other) noexcept : self_(std::exchange(other.self_, nullptr)) {}
    ~ExclusiveHold() {
        if (self_ != nullptr) self_->borrow_flag.store(0);
    }

private:
    explicit ExclusiveHold(EncoderObject* self) : self_(self) {}
    EncoderObject* self_;
};

class SharedHold {
public:
    static Result<SharedHold> take(EncoderObject* self) {
        std::int32_t seen = self->borrow_flag.load();
        while (seen != -1) {
            if (self->borrow_flag.compare_exchange_weak(seen, seen + 1)) return SharedHold(self);
        }
        return PyErr::lazy(PyExc_RuntimeError, "Already mutably borrowed");
    }
    SharedHold(SharedHold&& other) noexcept : self_(std::exchange(other.self_, nullptr)) {}
    ~SharedHold() {
        if (self_ != nullptr) self_->borrow_flag.fetch_sub(1);
    }

private:
    explicit SharedHold(EncoderObject* self) : self_(self) {}
    EncoderObject* self_;
};

// --- argument descriptions ---------------------------------------------------

constexpr std::string_view kEncodingParameter[] = {"encoding"};
constexpr std::string_view kObjParameter[] = {"obj"};

const CallableDescription kNewDescription{"Encoder", "__new__", kEncodingParameter, 0, 0, {}};
const CallableDescription kEncodeDescription{"Encoder", "encode", kObjParameter, 0, 1, {}};
const CallableDescription kDecodeDescription{"Encoder", "decode", kObjParameter, 0, 1, {}};

// --- construction and deallocation -----------------------------------------

Status check_encoding(PyObject* encoding) {
    if (encoding == nullptr || encoding == Py_None) return success();
    if (!PyUnicode_Check(encoding)) {
        return cast_error(encoding, &PyUnicode_Type).with_argument_note("encoding");
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(encoding, &size);
    if (text == nullptr) return PyErr::fetch().with_argument_note("encoding");
    std::string_view strategy(text, static_cast<std::size_t>(size));
    if (strategy != "label") {
        return PyErr::lazy(PyExc_ValueError,
                           std::string(strategy) + " is not a supported encoding strategy for strings!");
    }
    return success();
}

PyObject* encoder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> Result<Ref> {
        TRY_ASSIGN(Arguments arguments, match_tuple_dict(kNewDescription, args, kwargs));
        TRY(check_encoding(arguments[0]));
        Ref empty = own(PyTuple_New(0));
        TRY_ASSIGN(Ref object, checked(PyBaseObject_Type.tp_new(type, empty.get(), nullptr)));
        EncoderObject* self = as_encoder(object.get());
        new (&self->encoding_info) std::unique_ptr<EncodingInfo>();
        new (&self->borrow_flag) std::atomic<std::int32_t>(0);
        return object;
    });
}

void encoder_dealloc(PyObject* object) {
    guard_silent([object] {
        EncoderObject* self = as_encoder(object);
        PyTypeObject* type = Py_TYPE(object);
        Ref type_reference = Ref::steal(reinterpret_cast<PyObject*>(type));  // released after the free
        self->encoding_info.~unique_ptr();
        self->borrow_flag.~atomic();
        type->tp_free(object);
    });
}

// --- the two methods ---------------------------------------------------------

PyObject* encoder_encode(PyObject* object, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guard([&]() -> Result<Ref> {
        TRY_ASSIGN(Arguments arguments, match_vectorcall(kEncodeDescription, args, nargs, kwnames));
        EncoderObject* self = as_encoder(object);
        TRY_ASSIGN(ExclusiveHold hold, ExclusiveHold::take(self));
        TRY_ASSIGN(ConversionResult converted, pyany_to_vec(arguments[0]));
        // Without a record, output construction copies the matrix before it
        // runs any Python code, so a borrowed matrix needs no copy of its own.
        TRY_ASSIGN(Ref out, arr_to_out(converted.matrix, std::move(converted.out), nullptr));
        // Only a call that gives its result replaces the record: building
        // the result runs pandas, which may end the call.
        self->encoding_info = std::move(converted.info);
        return out;
    });
}

PyObject* encoder_decode(PyObject* object, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guard([&]() -> Result<Ref> {
        TRY_ASSIGN(Arguments arguments, match_vectorcall(kDecodeDescription, args, nargs, kwnames));
        EncoderObject* self = as_encoder(object);
        TRY_ASSIGN(SharedHold hold, SharedHold::take(self));
        // Decoding runs Python code while it reads the matrix, which may view
        // the input's memory: the input is held, so NumPy cannot resize or
        // free it meanwhile.
        Ref input = Ref::borrow(arguments[0]);
        TRY_ASSIGN(ConversionResult converted, pyany_to_vec(input.get(), Reading::Codes));
        converted.info.reset();
        return arr_to_out(converted.matrix, std::move(converted.out), self->encoding_info.get());
    });
}

// --- the type ------------------------------------------------------------------

PyMethodDef encoder_methods[] = {
    {"encode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(encoder_encode)),
     METH_FASTCALL | METH_KEYWORDS, "encode($self, obj)\n--\n\n"},
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(encoder_decode)),
     METH_FASTCALL | METH_KEYWORDS, "decode($self, obj)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

Result<Ref> make_encoder_type() {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(encoder_new)},
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_dealloc, reinterpret_cast<void*>(encoder_dealloc)},
        {Py_tp_methods, encoder_methods},
        {Py_tp_doc, const_cast<char*>("Encoder(encoding=None)\n--\n\n")},
        {0, nullptr},
    };
    PyType_Spec spec{
        "builtins.Encoder", static_cast<int>(sizeof(EncoderObject)), 0, Py_TPFLAGS_DEFAULT, slots,
    };
    return checked(PyType_FromSpec(&spec));
}

std::atomic<PyObject*> type_cell{nullptr};

}  // namespace

Result<PyObject*> encoder_type() {
    if (PyObject* made = type_cell.load()) return made;
    TRY_ASSIGN(Ref created, make_encoder_type());
    PyObject* expected = nullptr;
    if (type_cell.compare_exchange_strong(expected, created.get())) return created.release();
    return expected;  // another thread stored its type first; ours is released
}

}  // namespace tarnix
