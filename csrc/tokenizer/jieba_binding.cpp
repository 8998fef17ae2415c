#include "jieba_binding.h"

#include <Python.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/instance.h"
#include "binding/path_caster.h"
#include "binding/pickling.h"
#include "binding/without_lock.h"
#include "binding/word_casters.h"
#include "data_files.h"
#include "segmenter/segmenter.h"
#include "word_cache.h"

namespace pytarntext {

namespace py = pybind11;

// The Python class: the segmenter with the paths it was read from, and the str objects of the words
// it has returned. A pickle carries the paths; a copy shares the segmenter, which cutting only
// reads, and starts a cache of its own.
struct Segmenter {
  JiebaPaths paths;
  std::shared_ptr<const segmenter::Segmenter> segmenter;
  WordCache words;
};

}  // namespace pytarntext

PYTARNTEXT_REFUSE_UNFILLED_INSTANCES(pytarntext::Segmenter);

namespace pytarntext {
namespace {

constexpr int kStateVersion = 1;

// Reads and checks the five files once, then builds the segmenter from the texts read: a file
// changed meanwhile changes nothing. Both are plain C++ that can take a second or more, so they run
// without the interpreter lock, and a fault is raised once it is back.
std::shared_ptr<Segmenter> make_jieba(JiebaPaths paths) {
  std::shared_ptr<const segmenter::Segmenter> built;
  try {
    without_lock([&] {
      const JiebaTexts texts = read_jieba_files(paths);
      built = std::make_shared<const segmenter::Segmenter>(
          texts.dictionary, texts.hmm_model,
          std::vector<std::string_view>(texts.user_dictionaries.begin(),
                                        texts.user_dictionaries.end()));
    });
  } catch (const DataFileOpenError& error) {
    errno = error.error();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, error.path().c_str());
    throw py::error_already_set();
  } catch (const DataFileFormatError& error) {
    throw py::value_error(error.what());
  }
  return std::make_shared<Segmenter>(Segmenter{std::move(paths), std::move(built), {}});
}

// A path as the caller most likely gave it: str when it is UTF-8, else bytes.
py::object path_object(const std::string& path) {
  PyObject* text = PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), nullptr);
  if (text != nullptr) return py::reinterpret_steal<py::object>(text);
  PyErr_Clear();
  return py::bytes(path);
}

std::string path_string(py::handle path) {
  if (PyBytes_Check(path.ptr())) return std::string(py::reinterpret_borrow<py::bytes>(path));
  if (!PyUnicode_Check(path.ptr())) throw py::type_error("Jieba state paths must be str or bytes");
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(path.ptr(), &size);
  if (bytes == nullptr) throw py::error_already_set();  // UnicodeEncodeError: a lone surrogate
  return {bytes, static_cast<std::size_t>(size)};
}

// (version, dict_path, hmm_path, user_dict_path, idf_path, stop_word_path)
py::object jieba_state(py::handle self) {
  const JiebaPaths& paths = native_of<Segmenter>(self).paths;
  return with_attributes(
      self, py::make_tuple(kStateVersion, path_object(paths.dict_path), path_object(paths.hmm_path),
                           path_object(paths.user_dict_path), path_object(paths.idf_path),
                           path_object(paths.stop_word_path)));
}

// What builds the segmenter of a pickled state anew from its paths, with the constructor's checks
// and exceptions, once __setstate__ has checked the rest (restore_instance).
auto read_jieba_state(const py::object& native) {
  if (!PyTuple_Check(native.ptr()) || py::len(native) != 6 ||
      !PyLong_Check(native[py::int_(0)].ptr())) {
    throw py::type_error("Jieba state must be a tuple of a version and five paths");
  }
  const py::tuple fields = py::reinterpret_borrow<py::tuple>(native);
  if (!py::int_(kStateVersion).equal(fields[0])) {
    throw py::value_error("Jieba state has a version this module does not know");
  }
  return [fields] {
    return make_jieba({path_string(fields[1]), path_string(fields[2]), path_string(fields[3]),
                       path_string(fields[4]), path_string(fields[5])});
  };
}

using StrList = py::typing::List<py::str>;

// Segments and hashes the words without the interpreter lock: the segmenter is only read, and the
// sentence is the call's own copy. The list is made with the lock, through the cache.
template <class Cut>
StrList segment(Segmenter& self, const Sentence& sentence, Cut cut) {
  std::vector<segmenter::WordSpan> words;
  std::vector<std::uint64_t> hashes;
  without_lock([&] {
    cut(*self.segmenter, sentence.bytes, words);
    word_hashes(sentence.bytes, words, hashes);
  });
  return word_list(self.words, sentence.bytes, words, hashes, sentence.from_str);
}

StrList cut(Segmenter& self, const Sentence& sentence) {
  return segment(self, sentence,
                 [](const segmenter::Segmenter& s, std::string_view text,
                    std::vector<segmenter::WordSpan>& words) { s.cut(text, words); });
}

StrList cut_for_search(Segmenter& self, const Sentence& sentence) {
  return segment(self, sentence,
                 [](const segmenter::Segmenter& s, std::string_view text,
                    std::vector<segmenter::WordSpan>& words) { s.cut_for_search(text, words); });
}

std::shared_ptr<Segmenter> jieba_from_paths(const FilePath& dict_path, const FilePath& hmm_path,
                                            const FilePath& user_dict_path,
                                            const FilePath& idf_path,
                                            const FilePath& stop_word_path) {
  return make_jieba({dict_path.bytes, hmm_path.bytes, user_dict_path.bytes, idf_path.bytes,
                     stop_word_path.bytes});
}

}  // namespace

void register_jieba(py::module_& module) {
  py::class_<Segmenter, std::shared_ptr<Segmenter>> jieba(module, "Jieba");
  jieba
      .def(py::init(&jieba_from_paths), py::arg("dict_path"), py::arg("hmm_path"),
           py::arg("user_dict_path"), py::arg("idf_path"), py::arg("stop_word_path"))
      .def("cut", &cut, py::arg("sentence"))
      .def("cut_for_search", &cut_for_search, py::arg("sentence"));
  def_pickling<Segmenter>(jieba, &jieba_state, &read_jieba_state);
}

}  // namespace pytarntext
