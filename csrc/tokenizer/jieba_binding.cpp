#include "jieba_binding.h"

#include <Python.h>

#include <cerrno>
#include <memory>
#include <string>

#include "cppjieba/Jieba.hpp"
#include "data_files.h"
#include "word_casters.h"

namespace pytarntext {

namespace py = pybind11;

namespace {

using cppjieba::Jieba;

// Checks the five files before the library reads them: it meets a bad file by ending the process.
std::shared_ptr<Jieba> make_jieba(const std::string& dict_path, const std::string& hmm_path,
                                  const std::string& user_dict_path, const std::string& idf_path,
                                  const std::string& stop_word_path) {
  try {
    check_jieba_files({dict_path, hmm_path, user_dict_path, idf_path, stop_word_path});
  } catch (const DataFileOpenError& error) {
    errno = error.error();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, error.path().c_str());
    throw py::error_already_set();
  } catch (const DataFileFormatError& error) {
    throw py::value_error(error.what());
  }
  return std::make_shared<Jieba>(dict_path, hmm_path,
                                 user_dict_path.empty() ? kNoUserDictionary : user_dict_path,
                                 idf_path, stop_word_path);
}

// Segments without the interpreter lock: the library only reads the facade, and the sentence is
// the call's own copy.
template <class Cut>
Words segment(const Jieba& jieba, const Sentence& sentence, Cut cut) {
  Words result;
  result.from_str = sentence.from_str;
  {
    py::gil_scoped_release release;
    cut(jieba, sentence.bytes, result.words);
  }
  return result;
}

using WordList = std::vector<cppjieba::Word>;

Words cut(const Jieba& jieba, const Sentence& sentence) {
  return segment(jieba, sentence, [](const Jieba& j, const std::string& s, WordList& words) {
    j.Cut(s, words, true);
  });
}

Words cut_for_search(const Jieba& jieba, const Sentence& sentence) {
  return segment(jieba, sentence, [](const Jieba& j, const std::string& s, WordList& words) {
    j.CutForSearch(s, words, true);
  });
}

}  // namespace

void register_jieba(py::module_& module) {
  py::class_<Jieba, std::shared_ptr<Jieba>>(module, "Jieba")
      .def(py::init(&make_jieba), py::arg("dict_path"), py::arg("hmm_path"),
           py::arg("user_dict_path"), py::arg("idf_path"), py::arg("stop_word_path"))
      .def("cut", &cut, py::arg("sentence"))
      .def("cut_for_search", &cut_for_search, py::arg("sentence"));
}

}  // namespace pytarntext
