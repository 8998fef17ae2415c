#include <pybind11/pybind11.h>

#include "bm25_binding.h"
#include "tokenizer/jieba_binding.h"

// The module holds its two classes and nothing else: no functions, no state, no docstring.
PYBIND11_MODULE(pytarntext, module) {
  pytarntext::register_bm25(module);
  pytarntext::register_jieba(module);
}
