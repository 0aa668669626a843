#pragma once
// What the parts of the Python module share: the exception classes named
// after the failure kinds, the warning category, and the C++ error that
// carries a failure kind out of code that runs without the interpreter lock.

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace mmpython {

namespace py = pybind11;

// A failure of one of the kinds of the common exception list ("ReadFailed",
// "FileNotFound", ...). Thrown where the interpreter lock may be released;
// translated into the Python class of that kind once the lock is held again.
class KindError : public std::runtime_error {
public:
    KindError(std::string kind, const std::string& text) : std::runtime_error(text), kind_(std::move(kind)) {}
    const std::string& kind() const { return kind_; }

private:
    std::string kind_;
};

// multimedia.Error, the base of every exception the module raises.
py::handle errorBase();
// The class of a failure kind; multimedia.Error for a kind it does not know.
py::handle errorClass(const std::string& kind);
// multimedia.ReaderWarning, the category of the warnings devices post.
py::handle warningCategory();

// Issues a Python warning; throws py::error_already_set when the warning
// filters turn it into an exception.
void warn(const std::string& text);

// A path-like object (str, bytes or os.PathLike) as a file name.
std::string fspath(const py::object& path);

void defineVideoReader(py::module_& m);
void defineAvi(py::module_& m);

}  // namespace mmpython
