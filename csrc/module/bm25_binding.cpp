#include "bm25_binding.h"

#include <memory>

#include "bm25/bm25.h"
#include "token_casters.h"

namespace pytarntext {

using tarn::typing::text::BM25;

void register_bm25(py::module_& module) {
  // Token lists arrive through TextTokens/IntTokens and leave through TextWeights/IntWeights
  // (token_casters.h); every method below is one native call between the two.
  py::class_<BM25, std::shared_ptr<BM25>>(module, "BM25")
      .def(py::init<double, double>(), py::arg("b") = 0.75, py::arg("k1") = 1.2)
      .def("b", py::overload_cast<>(&BM25::b, py::const_))
      .def("b", py::overload_cast<double>(&BM25::b))
      .def("k1", py::overload_cast<>(&BM25::k1, py::const_))
      .def("k1", py::overload_cast<double>(&BM25::k1))
      .def("train", [](BM25& self, const TextTokens& tokens) { self.train(tokens.views); })
      .def("train", [](BM25& self, const IntTokens& tokens) { self.train(tokens.values); })
      .def("load", &BM25::load)
      .def("dump", &BM25::dump)
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
      .def("encode_query", [](const BM25& self, IntTokens& tokens) {
        return IntWeights{self.query_weights(tokens.values), std::move(tokens)};
      });
}

}  // namespace pytarntext
