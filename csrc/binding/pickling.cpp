#include "pickling.h"

namespace pytarntext {

py::tuple reduce_to_state(py::handle self) {
  py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  // copyreg.__newobj__ is what protocol 2 and later write as NEWOBJ; protocols 0 and 1 call it.
  return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"), py::make_tuple(type),
                        self.attr("__getstate__")());
}

Attributes attributes_of(py::handle self) {
  Attributes attributes;
  py::object dict = py::getattr(self, "__dict__", py::none());
  if (!dict.is_none() && py::len(dict) != 0) attributes.dict = std::move(dict);
  // The names object.__reduce_ex__ would save: every __slots__ entry of the class and its bases,
  // private names mangled, __dict__ and __weakref__ left out.
  py::dict slots;
  const py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  for (const py::handle name : py::module_::import("copyreg").attr("_slotnames")(type)) {
    if (PyObject_HasAttr(self.ptr(), name.ptr())) slots[name] = self.attr(name);
  }
  if (py::len(slots) != 0) attributes.slots = std::move(slots);
  return attributes;
}

py::object with_attributes(py::handle self, py::object state) {
  Attributes attributes = attributes_of(self);
  if (!attributes.slots.is_none()) {
    return py::make_tuple(std::move(state), std::move(attributes.dict),
                          std::move(attributes.slots));
  }
  if (!attributes.dict.is_none())
    return py::make_tuple(std::move(state), std::move(attributes.dict));
  return state;
}

std::pair<py::object, Attributes> split_attributes(const py::object& state) {
  if (PyTuple_Check(state.ptr()) && py::len(state) == 2 && PyDict_Check(state[py::int_(1)].ptr())) {
    return {state[py::int_(0)], {state[py::int_(1)], py::none()}};
  }
  // As Python's own objects: (dict, slot values), either of them None.
  if (PyTuple_Check(state.ptr()) && py::len(state) == 3 &&
      (PyDict_Check(state[py::int_(2)].ptr()) || state[py::int_(2)].is_none())) {
    return {state[py::int_(0)], {state[py::int_(1)], state[py::int_(2)]}};
  }
  return {state, {}};
}

void check_attributes(py::handle self, const Attributes& attributes) {
  for (const py::handle part : {attributes.dict, attributes.slots}) {
    if (!part.is_none() && !PyDict_Check(part.ptr())) {
      throw py::type_error("instance attributes must be a dict");
    }
  }
  if (!attributes.dict.is_none() && py::len(attributes.dict) != 0 &&
      !py::hasattr(self, "__dict__")) {
    throw py::type_error("this class takes no instance attributes");
  }
}

void restore_attributes(py::handle self, const Attributes& attributes) {
  // An empty dict sets nothing, also on an instance without one (as pickle's own BUILD skips it).
  if (!attributes.dict.is_none() && py::len(attributes.dict) != 0) {
    self.attr("__dict__").attr("update")(attributes.dict);
  }
  if (!attributes.slots.is_none()) {
    for (const auto& [name, value] : py::reinterpret_borrow<py::dict>(attributes.slots)) {
      py::setattr(self, name, value);
    }
  }
}

}  // namespace pytarntext
