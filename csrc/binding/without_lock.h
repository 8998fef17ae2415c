#pragma once

// Native work that other Python threads may run beside: it touches no Python object.

#include <Python.h>

namespace pytarntext {

// Runs `work` without the interpreter lock, and takes the lock back before anything it throws
// goes on, so that the caller raises with the lock held. Not py::gil_scoped_release: a thread that
// takes the lock back while the interpreter exits is ended by unwinding its stack, and from that
// guard's noexcept destructor the unwinding ends the whole process instead.
template <class Work>
void without_lock(Work work) {
  PyThreadState* const state = PyEval_SaveThread();
  try {
    work();
  } catch (...) {
    PyEval_RestoreThread(state);
    throw;
  }
  PyEval_RestoreThread(state);
}

}  // namespace pytarntext
