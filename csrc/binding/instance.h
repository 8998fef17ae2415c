#pragma once

// The native object inside an instance of a bound class. pybind11 keeps it in a slot of the
// instance, filled by __init__ or __setstate__; an instance that cls.__new__ made has an empty one.
// pybind11's internals that this needs stay in this folder: the bindings use these functions.

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

namespace pytarntext {

namespace py = pybind11;

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

// The slot that __setstate__ or a copy fills in `self`, which cls.__new__ made: TypeError unless
// it is an instance of the bound class T (or of a subclass) that nothing has filled. A __new__ of
// a subclass may return anything, a live instance included; giving that a second native object
// would leak the first and unregister it twice. (pybind11 itself already calls __setstate__ only
// on an instance of the class, and ignores it on a live one, whose native object another thread
// may be using.)
template <class T>
py::detail::value_and_holder fresh_slot(py::handle self) {
  const py::detail::type_info* const info = py::detail::get_type_info(typeid(T));
  const auto expected = [&] {
    return "expected a new instance of " +
           py::str(reinterpret_cast<PyObject*>(info->type)).cast<std::string>();
  };
  if (!PyObject_TypeCheck(self.ptr(), info->type)) {
    throw py::type_error(expected() + ", got " +
                         py::str(py::type::handle_of(self)).cast<std::string>());
  }
  auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
  const py::detail::value_and_holder slot = instance->get_value_and_holder(info);
  if (slot.holder_constructed() || slot.instance_registered()) {
    throw py::type_error(expected() + ", got one already filled");
  }
  return slot;
}

// Gives `self`, which cls.__new__ made, its native object, as pybind11 itself does at the end of
// __init__; checked by fresh_slot first, right before the slot is filled.
template <class T>
void adopt(py::handle self, std::shared_ptr<T> native) {
  const py::detail::value_and_holder slot = fresh_slot<T>(self);
  slot.value_ptr() = native.get();
  slot.type->init_instance(slot.inst, &native);
}

// The caster of a bound class's instances as arguments, self included: an instance that
// cls.__new__ made and that neither __init__ nor __setstate__ filled has no native object, so it is
// refused, as an argument of the wrong type, instead of being read.
template <class T>
struct initialised_caster : py::detail::type_caster_base<T> {
  bool load(py::handle source, bool convert) {
    // The type's record as the caster's constructor found it: every lookup by typeid hashes the
    // type's name, and this runs on every method call.
    const py::detail::type_info* const info = this->typeinfo;
    if (info != nullptr && PyObject_TypeCheck(source.ptr(), info->type)) {
      auto* instance = reinterpret_cast<py::detail::instance*>(source.ptr());
      if (!instance->get_value_and_holder(info).holder_constructed()) return false;
    }
    return py::detail::type_caster_base<T>::load(source, convert);
  }
};

}  // namespace pytarntext

// Declares that the instances of the bound class T are refused as arguments until filled
// (initialised_caster). At file scope, before T is bound; pybind11 finds casters only as
// specialisations in its own namespace, as its PYBIND11_MAKE_OPAQUE does.
#define PYTARNTEXT_REFUSE_UNFILLED_INSTANCES(T) \
  template <>                                   \
  struct pybind11::detail::type_caster<T> : ::pytarntext::initialised_caster<T> {}
