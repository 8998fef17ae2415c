#pragma once

#include <pybind11/pybind11.h>

namespace pytarntext {

// Registers the class BM25 on the module.
void register_bm25(pybind11::module_& module);

}  // namespace pytarntext
