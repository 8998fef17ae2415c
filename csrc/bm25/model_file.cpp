// Saving and restoring a BM25 encoder as a JSON model file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <limits>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "bm25.h"
#include "json/json_parser.h"
#include "json/json_value.h"

namespace tarn::typing::text {
namespace {

using json::JsonClass;
using json::JsonValue;

[[noreturn]] void fail_dump(int error) {
  throw std::runtime_error("Failed to dump: " + std::system_category().message(error));
}

[[noreturn]] void fail_open() { throw std::runtime_error("Failed to dump: Unable to open file"); }

// Writes all of `content` to `fd`, or returns the errno of the failure.
int write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Anything that is not a regular file (a device, a pipe) is written in place, as it always was.
void write_in_place(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) fail_open();
  const int error = write_all(fd, content);
  if (::close(fd) != 0 && error == 0) fail_dump(errno);
  if (error != 0) fail_dump(error);
}

// Replaces the file at `path` with `content` so that no failure or crash part-way leaves it cut
// short: the text goes to a new file beside it, which is renamed over it only once it is complete
// on disk. A path that could not be opened for writing is refused as opening it would be.
void replace_file(const std::string& path, std::string_view content) {
  std::string target = path;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    // Replace the file the link names, as writing through the link would, not the link.
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists) {
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) fail_open();
    ::close(probe);
    if (!S_ISREG(status.st_mode)) return write_in_place(target, content);
  }

  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::random_device random;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = directory + (slash == std::string::npos ? "/." : ".") + name + ".tmp-" +
                std::to_string(random());
    // Mode 0666 less the umask, as a newly created model file always had.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) fail_open();

  int error = write_all(fd, content);
  if (error == 0 && exists && ::fchmod(fd, status.st_mode & 07777) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    fail_dump(error);
  }
}

// The total that the loaded average stands for, so that training goes on from the loaded corpus.
std::int64_t length_total_of(double average, std::int32_t count) {
  const double total = std::round(average * static_cast<double>(count));
  constexpr double kLimit = 9.2e18;  // inside the signed 64-bit range
  if (std::isnan(total)) return 0;
  return static_cast<std::int64_t>(std::clamp(total, -kLimit, kLimit));
}

}  // namespace

void BM25::dump(const std::string& path) const {
  for (const auto& [field, value] : {std::pair{"_b", _b}, std::pair{"_k1", _k1},
                                     std::pair{"_doc_length_average", _doc_length_average}}) {
    if (!std::isfinite(value)) {
      throw std::runtime_error(std::string("Failed to dump: ") + field +
                               " is not a finite number, which JSON cannot hold");
    }
  }

  // Keys are written escaped, so that every token reads back as itself. Sorting them first lets
  // the object take each entry at its end instead of searching a million-entry tree.
  struct Entry {
    std::uint64_t order;
    std::string_view key;
    std::int32_t count;
  };
  std::vector<Entry> counts;
  std::deque<std::string> escaped;
  counts.reserve(_doc_token_frequency.size());
  _doc_token_frequency.for_each([&](std::string_view key, std::int32_t count) {
    if (key.find_first_of("\b\t\n\f\r\"\\") != std::string_view::npos) {
      key = escaped.emplace_back(json::json_escape(key));
    }
    counts.push_back({byte_order_prefix(key), key, count});
  });
  std::sort(counts.begin(), counts.end(), [](const Entry& left, const Entry& right) {
    return left.order != right.order ? left.order < right.order : left.key < right.key;
  });

  JsonValue document;
  JsonValue& frequency = document["_doc_token_frequency"];
  frequency.set_kind(JsonClass::Object);
  for (const Entry& entry : counts) frequency.entry_for(std::string(entry.key)) = entry.count;
  document["_doc_count"] = _doc_count;
  document["_doc_length_average"] = _doc_length_average;
  document["_b"] = _b;
  document["_k1"] = _k1;

  replace_file(path, document.to_text(1, "  "));
}

void BM25::load(std::string_view json_data) {
  if (json_data.empty()) throw std::runtime_error("json data should not be empty");
  JsonValue document = json::parse_json(json_data);

  // Every check passes before anything is assigned: a failed load changes nothing.
  const JsonValue frequency = std::move(document["_doc_token_frequency"]);
  std::vector<std::pair<std::string_view, std::int32_t>> counts;
  std::deque<std::string> unescaped;
  std::size_t key_bytes = 0;
  for (const auto& [key, value] : frequency.entries()) {
    bool ok = false;
    const std::int32_t count = value.to_int(ok);
    if (!ok) throw std::runtime_error("load doc_token_frequency failed");
    std::string_view token = key;
    if (token.find('\\') != std::string_view::npos) {
      token = unescaped.emplace_back(json::json_unescape(key));
    }
    counts.emplace_back(token, count);
    key_bytes += token.size();
  }
  bool ok = false;
  const std::int32_t doc_count = document["_doc_count"].to_int(ok);
  if (!ok) throw std::runtime_error("load doc_count failed");
  const double doc_length_average = document["_doc_length_average"].to_float(ok);
  if (!ok) throw std::runtime_error("load doc_length_average failed");
  const double b = document["_b"].to_float(ok);
  if (!ok) throw std::runtime_error("load b failed");
  const double k1 = document["_k1"].to_float(ok);
  if (!ok) throw std::runtime_error("load k1 failed");

  _doc_token_frequency.reserve(counts.size(), key_bytes);  // the last step that can fail
  for (const auto& [token, count] : counts) _doc_token_frequency[token] = count;
  _doc_count = doc_count;
  _doc_length_average = doc_length_average;
  _doc_length_total = length_total_of(doc_length_average, doc_count);
  _b = b;
  _k1 = k1;
}

}  // namespace tarn::typing::text
