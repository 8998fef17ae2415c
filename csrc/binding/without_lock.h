#pragma once

// Native work that other Python threads may run beside: it touches no Python object.

#include <pybind11/pybind11.h>

#include <exception>

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

// Tells whether the calling thread is the main one, as the threading module knows it (also after a
// fork from another thread). Made when the module is initialised and kept by each function that
// asks, so that a call imports nothing: after os.chroot, or once the standard library cannot be
// read, an import would fail where the call itself could work. Every interpreter makes its own,
// holding its own threading module.
class MainThread {
 public:
  MainThread() : threading_(pybind11::module_::import("threading")) {}

  // With the lock held.
  bool is_current() const {
    return threading_.attr("current_thread")().is(threading_.attr("main_thread")());
  }

 private:
  pybind11::object threading_;
};

// Whether a native call blocked without the lock goes on once a signal has interrupted it. Python
// runs signal handlers in the main thread alone: there the lock is taken back for them, as for any
// blocking call, and what a handler raises (Ctrl-C's KeyboardInterrupt) ends the call. Other
// threads go on, and never take the lock back mid-call, which would end them while the
// interpreter exits.
class SignalHandlers {
 public:
  // With the lock held, in the thread that then releases it.
  explicit SignalHandlers(const MainThread& main_thread)
      : thread_(PyThreadState_Get()), in_main_thread_(main_thread.is_current()) {}

  // Without the lock: runs the pending handlers; false once one has raised, its exception set.
  bool go_on() {
    if (!in_main_thread_) return true;
    PyEval_RestoreThread(thread_);  // the very state released, in whichever interpreter
    raised_ = PyErr_CheckSignals() != 0;
    PyEval_SaveThread();
    return !raised_;
  }

  bool raised() const { return raised_; }

 private:
  PyThreadState* const thread_;
  const bool in_main_thread_;
  bool raised_ = false;
};

// without_lock for work that may block for good (a pipe nobody reads): `work(go_on)`, where
// go_on is SignalHandlers::go_on. When a handler raised, its exception is what the call raises.
template <class Work>
void without_lock_until_raised(const MainThread& main_thread, Work work) {
  SignalHandlers handlers(main_thread);
  try {
    without_lock([&] { work([&handlers] { return handlers.go_on(); }); });
  } catch (const std::exception&) {
    if (handlers.raised()) throw pybind11::error_already_set();
    throw;
  }
}

}  // namespace pytarntext
