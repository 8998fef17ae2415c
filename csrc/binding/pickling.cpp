#include "pickling.h"

namespace pytarntext {

namespace {

// What copyreg._slotnames(type) gives, computed here so that a call imports nothing: the names
// cached as the class's __slotnames__, else every __slots__ entry of the class and its bases,
// private names mangled, __dict__ and __weakref__ left out, then cached where the class allows.
py::object slot_names(py::handle type) {
  py::object cached = type.attr("__dict__").attr("get")("__slotnames__");
  if (!cached.is_none()) return cached;
  py::list names;
  if (py::hasattr(type, "__slots__")) {
    for (const py::handle base : type.attr("__mro__")) {
      const py::object own = base.attr("__dict__");
      if (!own.contains("__slots__")) continue;
      py::object slots = own["__slots__"];
      if (PyUnicode_Check(slots.ptr())) slots = py::make_tuple(slots);
      for (const py::handle name : slots) {
        const auto text = py::reinterpret_borrow<py::object>(name);
        if (text.equal(py::str("__dict__")) || text.equal(py::str("__weakref__"))) continue;
        if (py::bool_(text.attr("startswith")("__")) && !py::bool_(text.attr("endswith")("__"))) {
          const py::object stripped = base.attr("__name__").attr("lstrip")("_");
          names.append(py::len(stripped) != 0 ? py::str("_{}{}").format(stripped, text) : text);
        } else {
          names.append(text);
        }
      }
    }
  }
  if (PyObject_SetAttrString(type.ptr(), "__slotnames__", names.ptr()) != 0) PyErr_Clear();
  return names;
}

}  // namespace

py::tuple reduce_to_state(py::handle self, const CopyFunctions& functions) {
  py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  // copyreg.__newobj__ is what protocol 2 and later write as NEWOBJ; protocols 0 and 1 call it.
  return py::make_tuple(functions.newobj, py::make_tuple(type), self.attr("__getstate__")());
}

Attributes attributes_of(py::handle self) {
  Attributes attributes;
  py::object dict = py::getattr(self, "__dict__", py::none());
  if (!dict.is_none() && py::len(dict) != 0) attributes.dict = std::move(dict);
  // The names object.__reduce_ex__ would save: every __slots__ entry of the class and its bases,
  // private names mangled, __dict__ and __weakref__ left out.
  py::dict slots;
  const py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  for (const py::handle name : slot_names(type)) {
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
