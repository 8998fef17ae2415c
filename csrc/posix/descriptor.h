#pragma once

#include <unistd.h>

#include <cerrno>

namespace tarn::posix {

// An owned file descriptor; close() reports its error, the destructor is for error paths.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : _fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (_fd >= 0) ::close(_fd);
  }
  void reset(int fd) {
    if (_fd >= 0) ::close(_fd);
    _fd = fd;
  }
  int get() const { return _fd; }
  bool is_open() const { return _fd >= 0; }
  // 0, or the errno of the failed close.
  int close() {
    const int result = ::close(_fd);
    _fd = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int _fd;
};

}  // namespace tarn::posix
