#include "pickling.h"

namespace pytarntext {

py::tuple reduce_to_state(py::handle self) {
  py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self.ptr()));
  // copyreg.__newobj__ is what protocol 2 and later write as NEWOBJ; protocols 0 and 1 call it.
  return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"), py::make_tuple(type),
                        self.attr("__getstate__")());
}

py::object with_instance_dict(py::handle self, py::object state) {
  py::object dict = py::getattr(self, "__dict__", py::none());
  if (dict.is_none() || py::len(dict) == 0) return state;
  return py::make_tuple(std::move(state), std::move(dict));
}

std::pair<py::object, py::object> split_instance_dict(const py::object& state) {
  if (PyTuple_Check(state.ptr()) && py::len(state) == 2 && PyDict_Check(state[py::int_(1)].ptr())) {
    return {state[py::int_(0)], state[py::int_(1)]};
  }
  return {state, py::none()};
}

void check_instance_dict(py::handle self, py::handle dict) {
  if (dict.is_none()) return;
  if (!PyDict_Check(dict.ptr())) throw py::type_error("instance attributes must be a dict");
  if (py::len(dict) != 0 && !py::hasattr(self, "__dict__")) {
    throw py::type_error("this class takes no instance attributes");
  }
}

void restore_instance_dict(py::handle self, py::handle dict) {
  check_instance_dict(self, dict);
  if (dict.is_none() || py::len(dict) == 0) return;
  self.attr("__dict__").attr("update")(dict);
}

}  // namespace pytarntext
