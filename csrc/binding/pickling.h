#pragma once

// Pickling and copying for both classes. Python rebuilds an instance as cls.__new__(cls), then
// __setstate__(state): a Python subclass comes back as itself, and its __init__ is not called. The
// state is the class's own, with the instance's attribute dict beside it when a subclass gave it
// one.

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

namespace pytarntext {

namespace py = pybind11;

// __reduce__ and __reduce_ex__, for every protocol. The inherited ones go through copyreg under
// protocols 0 and 1, which allocates a bare pybind11 object and so ends the process.
py::tuple reduce_to_state(py::handle self);

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

// The native object of `self`; TypeError unless `self` is a constructed instance of the bound
// class T or of a subclass.
template <class T>
const T& native_of(py::handle self) {
  const py::object type = py::type::of<T>();
  if (!py::isinstance(self, type)) {
    throw py::type_error("expected an instance of " + py::str(type).cast<std::string>());
  }
  auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
  const auto slot = instance->get_value_and_holder(py::detail::get_type_info(typeid(T)));
  if (!slot.holder_constructed()) throw py::type_error("the instance was never initialised");
  return *slot.template value_ptr<T>();
}

// The slot that __setstate__ fills in `self`, an instance of T. pybind11 treats __setstate__ as a
// constructor: it calls it only on an instance that cls.__new__ made and nothing has filled, and
// ignores it on a live one, whose native object another thread may be using.
template <class T>
py::detail::value_and_holder unfilled_slot(py::handle self) {
  auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
  return instance->get_value_and_holder(py::detail::get_type_info(typeid(T)));
}

// Gives an instance that cls.__new__ made, and that has no native object yet, its native object;
// what pybind11 itself does at the end of __init__.
template <class T>
void adopt(const py::detail::value_and_holder& slot, std::shared_ptr<T> native) {
  slot.value_ptr() = native.get();
  slot.type->init_instance(slot.inst, &native);
}

// copy.copy (memo None) and copy.deepcopy: a new instance of self's own class around a copy of
// the native object, T's copy constructor deciding what is shared. Attributes are copied as the
// copy module copies them.
template <class T>
py::object copy_instance(py::handle self, py::handle memo) {
  const T& native = native_of<T>(self);
  py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  py::object copy = type.attr("__new__")(type);
  auto* instance = reinterpret_cast<py::detail::instance*>(copy.ptr());
  adopt(instance->get_value_and_holder(py::detail::get_type_info(typeid(T))),
        std::make_shared<T>(native));
  Attributes attributes = attributes_of(self);
  if (!memo.is_none()) {
    memo[py::int_(reinterpret_cast<std::uintptr_t>(self.ptr()))] = copy;
    const py::object deepcopy = py::module_::import("copy").attr("deepcopy");
    attributes = {deepcopy(attributes.dict, memo), deepcopy(attributes.slots, memo)};
  }
  restore_attributes(copy, attributes);
  return copy;
}

// The pickle and copy protocol of a bound class: `state` gives the instance's state, `restore`
// fills an instance that cls.__new__ made from one; __reduce__ and __reduce_ex__ (every protocol)
// go through them, copy and deepcopy through T's copy constructor.
template <class T, class Class, class State, class Restore>
Class& def_pickling(Class& cls, State state, Restore restore) {
  return cls.def("__getstate__", state)
      .def("__setstate__", restore)
      .def("__reduce__", &reduce_to_state)
      .def("__reduce_ex__", [](py::handle self, int) { return reduce_to_state(self); })
      .def("__copy__", [](py::handle self) { return copy_instance<T>(self, py::none()); })
      .def("__deepcopy__", &copy_instance<T>);
}

}  // namespace pytarntext

namespace pybind11::detail {

// The caster of a bound class's instances as arguments, self included: an instance that
// cls.__new__ made and that neither __init__ nor __setstate__ filled has no native object, so it is
// refused, as an argument of the wrong type, instead of being read.
template <class T>
struct initialised_caster : type_caster_base<T> {
  bool load(handle source, bool convert) {
    // The type's record as the caster's constructor found it: every lookup by typeid hashes the
    // type's name, and this runs on every method call.
    const type_info* const info = this->typeinfo;
    if (info != nullptr && PyObject_TypeCheck(source.ptr(), info->type)) {
      auto* instance = reinterpret_cast<detail::instance*>(source.ptr());
      if (!instance->get_value_and_holder(info).holder_constructed()) return false;
    }
    return type_caster_base<T>::load(source, convert);
  }
};

}  // namespace pybind11::detail
