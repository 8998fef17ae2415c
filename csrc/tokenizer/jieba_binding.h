#pragma once

#include <pybind11/pybind11.h>

namespace pytarntext {

// Registers the class Jieba on the module.
void register_jieba(pybind11::module_& module);

}  // namespace pytarntext
