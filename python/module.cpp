// The module `multimedia`: video files read into NumPy arrays through the
// reader plugins, and AVI files read and written through avi::File.
#include "module.hpp"

#include <common/exceptions/exceptionlist.hpp>

#include <map>

namespace mmpython {

namespace {

// Created once when the module is imported; they live as long as the process.
PyObject* gErrorBase = nullptr;
PyObject* gWarning = nullptr;
std::map<std::string, PyObject*>* gKinds = nullptr;

PyObject* newClass(py::module_& m, const std::string& name, PyObject* bases, const char* doc) {
    const std::string qualified = "multimedia." + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
    if (type == nullptr) throw py::error_already_set();
    m.attr(name.c_str()) = py::handle(type);
    return type;
}

void defineExceptions(py::module_& m) {
    gErrorBase = newClass(m, "Error", PyExc_Exception, "Base of every error the multimedia module raises.");
    gWarning = newClass(m, "ReaderWarning", PyExc_UserWarning,
                        "What a reader posted without failing: damaged data it read around, for instance.");
    gKinds = new std::map<std::string, PyObject*>();
    // Missing and unreadable files are also the built-in OSError kinds, so
    // `except FileNotFoundError` catches them as anywhere else in Python.
    const std::map<std::string, PyObject*> alsoBuiltIn = {{"FileNotFound", PyExc_FileNotFoundError},
                                                          {"FilePermissionDenied", PyExc_PermissionError}};
#define MM_PYTHON_KIND(stem, kindName, takesMessage)                                                 \
    {                                                                                                  \
        const auto builtIn = alsoBuiltIn.find(kindName);                                               \
        py::tuple bases = builtIn == alsoBuiltIn.end() ? py::make_tuple(py::handle(gErrorBase))       \
                                                       : py::make_tuple(py::handle(gErrorBase),        \
                                                                        py::handle(builtIn->second)); \
        (*gKinds)[kindName] = newClass(m, kindName, bases.ptr(), "The failure kind " kindName ".");  \
    }
    MM_COMMON_EXCEPTIONS(MM_PYTHON_KIND)
#undef MM_PYTHON_KIND

    py::register_exception_translator([](std::exception_ptr failure) {
        if (!failure) return;
        try {
            std::rethrow_exception(failure);
        } catch (const KindError& error) {
            PyErr_SetString(errorClass(error.kind()).ptr(), error.what());
        }
    });
}

}  // namespace

py::handle errorBase() { return gErrorBase; }

py::handle errorClass(const std::string& kind) {
    const auto found = gKinds->find(kind);
    return found != gKinds->end() ? found->second : gErrorBase;
}

py::handle warningCategory() { return gWarning; }

std::string fspath(const py::object& path) { return py::module_::import("os").attr("fspath")(path).cast<std::string>(); }

void warn(const std::string& text) {
    if (PyErr_WarnEx(gWarning, text.c_str(), 2) != 0) throw py::error_already_set();
}

}  // namespace mmpython

PYBIND11_MODULE(multimedia, m) {
    m.doc() =
        "Video files read frame by frame into NumPy arrays without a copy, through the reader plugins; "
        "AVI files read and written through the AVI library (multimedia.avi).";
    mmpython::defineExceptions(m);
    mmpython::defineVideoReader(m);
    mmpython::defineAvi(m);
}
