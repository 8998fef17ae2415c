#include "bm25_binding.h"

#include <memory>
#include <string>
#include <system_error>

#include "binding/instance.h"
#include "binding/number_casters.h"
#include "binding/path_caster.h"
#include "binding/pickling.h"
#include "binding/token_casters.h"
#include "binding/without_lock.h"
#include "bm25/bm25.h"

PYTARNTEXT_REFUSE_UNFILLED_INSTANCES(tarn::typing::text::BM25);

namespace pytarntext {

using tarn::typing::text::BM25;

namespace {

py::object bm25_state(py::handle self) {
  const std::string state = native_of<BM25>(self).state();
  return with_attributes(self, py::bytes(state));
}

// The encoder of a pickled state, which __setstate__ gives the instance (restore_instance).
auto read_bm25_state(const py::object& native) {
  if (!PyBytes_Check(native.ptr())) throw py::type_error("BM25 state must be bytes");
  auto model = std::make_shared<BM25>(BM25::from_state(std::string_view(
      PyBytes_AS_STRING(native.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(native.ptr())))));
  return [model] { return model; };
}

// A failed dump raises RuntimeError with its fixed text, from the OSError that opening or writing
// the path would have raised (errno, the system's message, the path as os.fsdecode gives it), so
// that a traceback says why.
[[noreturn]] void raise_dump_error(const tarn::typing::text::DumpError& error,
                                   const FilePath& path) {
  const auto filename = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefaultAndSize(
      path.bytes.data(), static_cast<Py_ssize_t>(path.bytes.size())));
  if (!filename) throw py::error_already_set();
  const int code = error.error_number();
  // OSError(errno, ...) is the subclass that the errno names, FileNotFoundError and the like.
  const py::object reason =
      py::handle(PyExc_OSError)(code, std::system_category().message(code), filename);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(reason.ptr())), reason.ptr());
  py::raise_from(PyExc_RuntimeError, error.what());
  throw py::error_already_set();
}

// The text is made with the lock held, so that no other thread changes the encoder under it;
// opening, writing, syncing and renaming run without it, since a pipe or a slow disk may block
// them for as long as it likes, and Ctrl-C ends them there as it ends any blocking call.
void dump_model(const BM25& self, const FilePath& path, const MainThread& main_thread) {
  const std::string text = self.model_text();
  try {
    without_lock_until_raised(
        main_thread, [&](const auto& go_on) { BM25::write_model(path.bytes, text, go_on); });
  } catch (const tarn::typing::text::DumpError& error) {
    raise_dump_error(error, path);
  }
}

tarn::typing::text::IndexForm index_form(bool unsigned_index) {
  return unsigned_index ? tarn::typing::text::IndexForm::unsigned_result
                        : tarn::typing::text::IndexForm::absolute;
}

}  // namespace

void register_bm25(py::module_& module) {
  // Token lists arrive through TextTokens/IntTokens and leave through TextWeights/IntWeights
  // (token_casters.h); every method below is one native call between the two.
  py::class_<BM25, std::shared_ptr<BM25>> bm25(module, "BM25");
  // Float: pybind11's own name for a double argument is not "float" (number_casters.h).
  bm25.def(py::init([](Float b, Float k1) { return BM25(b.value, k1.value); }), py::arg("b") = 0.75,
           py::arg("k1") = 1.2)
      .def("b", py::overload_cast<>(&BM25::b, py::const_))
      .def("b", [](BM25& self, Float b) { self.b(b.value); })
      .def("k1", py::overload_cast<>(&BM25::k1, py::const_))
      .def("k1", [](BM25& self, Float k1) { self.k1(k1.value); })
      .def("train", [](BM25& self, const TextTokens& tokens) { self.train(tokens.views); })
      .def("train", [](BM25& self, const IntTokens& tokens) { self.train(tokens.values); })
      .def("load", &BM25::load)
      .def("dump",
           [main_thread = MainThread()](const BM25& self, const FilePath& path) {
             dump_model(self, path, main_thread);
           })
      .def("encode_document",
           [](const BM25& self, TextTokens& tokens) {
             return TextWeights{self.document_weights(tokens.views), std::move(tokens)};
           })
      .def("encode_document",
           [](const BM25& self, IntTokens& tokens) {
             return IntWeights{self.document_weights(tokens.values), std::move(tokens)};
           })
      .def("encode_query",
           [](const BM25& self, TextTokens& tokens) {
             return TextWeights{self.query_weights(tokens.views), std::move(tokens)};
           })
      .def("encode_query",
           [](const BM25& self, IntTokens& tokens) {
             return IntWeights{self.query_weights(tokens.values), std::move(tokens)};
           })
      .def("merge", &BM25::merge);
  def_pickling<BM25>(bm25, &bm25_state, &read_bm25_state);
  // Beyond the specified surface, after it, so that its order and overload choice stay as they are.
  bm25.def("untrain", [](BM25& self, const TextTokens& tokens) { self.untrain(tokens.views); })
      .def("untrain", [](BM25& self, const IntTokens& tokens) { self.untrain(tokens.values); })
      .def(
          "document_sparse_vector",
          [](const BM25& self, const TextTokens& tokens, bool unsigned_index) {
            return self.document_indexed(tokens.views, index_form(unsigned_index));
          },
          py::arg("tokens"), py::pos_only(), py::arg("unsigned") = false)
      .def(
          "document_sparse_vector",
          [](const BM25& self, const IntTokens& tokens, bool unsigned_index) {
            return self.document_indexed(tokens.values, index_form(unsigned_index));
          },
          py::arg("tokens"), py::pos_only(), py::arg("unsigned") = false)
      .def(
          "query_sparse_vector",
          [](const BM25& self, const TextTokens& tokens, bool unsigned_index) {
            return self.query_indexed(tokens.views, index_form(unsigned_index));
          },
          py::arg("tokens"), py::pos_only(), py::arg("unsigned") = false)
      .def(
          "query_sparse_vector",
          [](const BM25& self, const IntTokens& tokens, bool unsigned_index) {
            return self.query_indexed(tokens.values, index_form(unsigned_index));
          },
          py::arg("tokens"), py::pos_only(), py::arg("unsigned") = false);
}

}  // namespace pytarntext
