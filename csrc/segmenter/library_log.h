#pragma once

// The ERROR lines cppjieba writes to standard error, in limonp's form: local time, the library's
// source line, the level, the message; one write per line.

#include <ctime>
#include <iostream>
#include <sstream>
#include <string_view>

namespace pytarntext::segmenter {

// `source` is the library's file and line that logs the same fault, e.g. "PreFilter.hpp:21".
inline void log_library_error(std::string_view source, std::string_view message) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
  std::ostringstream line;
  line << stamp << " " << source << " ERROR " << message;
  std::cerr << line.str() << std::endl;
}

}  // namespace pytarntext::segmenter
