#pragma once

// Pickling and copying for both classes. Python rebuilds an instance as cls.__new__(cls), then
// __setstate__(state): a Python subclass comes back as itself, and its __init__ is not called. The
// state is the class's own, with the instance's attribute dict beside it when a subclass gave it
// one.

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

#include "instance.h"
#include "number_casters.h"

namespace pytarntext {

namespace py = pybind11;

// What pickling and copying call in Python's copyreg and copy modules, taken when the class is
// defined and kept by its methods: a call imports nothing, which after os.chroot, or once the
// standard library cannot be read, would fail. Each interpreter defines the class anew, with its
// own modules.
struct CopyFunctions {
  py::object newobj = py::module_::import("copyreg").attr("__newobj__");
  py::object deepcopy = py::module_::import("copy").attr("deepcopy");
};

// __reduce__ and __reduce_ex__, for every protocol. The inherited ones go through copyreg under
// protocols 0 and 1, which allocates a bare pybind11 object and so ends the process.
py::tuple reduce_to_state(py::handle self, const CopyFunctions& functions);

// What a Python subclass adds to an instance: its attribute dict and the values of the __slots__
// it declares. None for what it does not have.
struct Attributes {
  py::object dict = py::none();
  py::object slots = py::none();
};

// The attributes of `self`, as they are (not copied).
Attributes attributes_of(py::handle self);

// `state`, or (state, dict) when the instance has attributes, or (state, dict or None, slot
// values) when it has slot values: the shapes Python's own objects pickle their attributes in.
py::object with_attributes(py::handle self, py::object state);

// The class's state and the attributes of what with_attributes made.
std::pair<py::object, Attributes> split_attributes(const py::object& state);

// Raises TypeError unless `self` can take `attributes`: checked before the native object is
// given, so that a refused state leaves nothing half restored.
void check_attributes(py::handle self, const Attributes& attributes);
// Sets what check_attributes passed, or what attributes_of read from an instance of the same class.
void restore_attributes(py::handle self, const Attributes& attributes);

// copy.copy (memo None) and copy.deepcopy: a new instance of self's own class around a copy of
// the native object, T's copy constructor deciding what is shared. Attributes are copied as the
// copy module copies them.
template <class T>
py::object copy_instance(py::handle self, py::handle memo, const CopyFunctions& functions) {
  const T& native = native_of<T>(self);
  py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  py::object copy = type.attr("__new__")(type);
  fresh_slot<T>(copy);  // refused before the native object is copied, not after
  adopt(copy, std::make_shared<T>(native));
  Attributes attributes = attributes_of(self);
  if (!memo.is_none()) {
    memo[py::int_(reinterpret_cast<std::uintptr_t>(self.ptr()))] = copy;
    attributes = {functions.deepcopy(attributes.dict, memo),
                  functions.deepcopy(attributes.slots, memo)};
  }
  restore_attributes(copy, attributes);
  return copy;
}

// __setstate__ of the bound class T: fills `self`, an instance that cls.__new__ made, from what
// with_attributes made. `read(native)` refuses a class state that T did not write and returns the
// function that makes the native object from it; the attributes are checked between the two, so
// that a refused state, of either part, leaves nothing half restored.
template <class T, class Read>
void restore_instance(py::handle self, const py::object& state, const Read& read) {
  const auto [native, attributes] = split_attributes(state);
  auto make = read(native);
  check_attributes(self, attributes);
  adopt(self, make());
  restore_attributes(self, attributes);
}

// The pickle and copy protocol of a bound class: `state` gives the instance's state, `read` what
// restore_instance needs to fill an instance that cls.__new__ made from one; __reduce__ and
// __reduce_ex__ (every protocol) go through them, copy and deepcopy through T's copy constructor.
template <class T, class Class, class State, class Read>
Class& def_pickling(Class& cls, State state, Read read) {
  const CopyFunctions functions;
  return cls.def("__getstate__", state)
      .def("__setstate__",
           [read](py::handle self, const py::object& state) {
             restore_instance<T>(self, state, read);
           })
      .def("__reduce__", [functions](py::handle self) { return reduce_to_state(self, functions); })
      .def("__reduce_ex__",
           [functions](py::handle self, Int) { return reduce_to_state(self, functions); })
      .def("__copy__",
           [functions](py::handle self) { return copy_instance<T>(self, py::none(), functions); })
      .def("__deepcopy__", [functions](py::handle self, py::handle memo) {
        return copy_instance<T>(self, memo, functions);
      });
}

}  // namespace pytarntext
