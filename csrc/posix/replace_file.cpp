// The routes of replace_file.h, each step's failure checked.

#include "replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "base/bytes.h"
#include "descriptor.h"

namespace tarn::posix {
namespace {

[[noreturn]] void fail(int error) {
  throw ReplaceError(std::system_category().message(error), error);
}

// Opening the path for writing would fail, with `error`.
[[noreturn]] void fail_open(int error) { throw ReplaceError("Unable to open file", error); }

constexpr int kMaxLinkHops = 40;  // as many as the kernel follows before ELOOP
constexpr int kMaxNameAttempts = 64;
#ifdef O_PATH
constexpr int kDirectoryHandle = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs no read permission
#else
constexpr int kDirectoryHandle = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Writes all of `content` to `fd`, or returns the errno of the failure. A signal ends a write that
// blocks: with EINTR where nothing was written yet, else short. Whether that ends this one too is
// the caller's to say (go_on), as Ctrl-C ends a Python write.
int write_all(int fd, std::string_view content, const GoOn& go_on) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno != EINTR) return errno;
    if (written > 0) content.remove_prefix(static_cast<std::size_t>(written));
    if ((written < 0 || !content.empty()) && go_on && !go_on()) return EINTR;
  }
  return 0;
}

// Whether `link` is one of procfs's links (/proc/<pid>/fd/<n>, cwd, exe...), which the kernel
// resolves to an open file, not to the path that readlink shows.
bool is_kernel_link(const std::string& link) {
#ifdef __linux__
  const std::size_t slash = link.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : link.substr(0, slash + 1);
  struct statfs filesystem {};
  return ::statfs(directory.c_str(), &filesystem) == 0 && filesystem.f_type == PROC_SUPER_MAGIC;
#else
  (void)link;
  return false;
#endif
}

// The name that opening `path` would create: its symbolic links followed to the end of the chain,
// a relative target taken against its link's own directory, so that a dangling link names the
// file to create. Nothing for a chain through a procfs link, which names no path. A loop or an
// unreadable link cannot be opened.
std::optional<std::string> follow_links(std::string path) {
  for (int hops = 0;; ++hops) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
      if (errno == ENOENT) return path;  // its directory is checked when the file is created
      fail_open(errno);
    }
    if (!S_ISLNK(status.st_mode)) return path;
    if (hops == kMaxLinkHops) fail_open(ELOOP);
    if (is_kernel_link(path)) return std::nullopt;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) fail_open(errno);
    if (length == 0 || static_cast<std::size_t>(length) == target.size()) fail_open(ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (target.front() != '/' && slash != std::string::npos) {
      target.insert(0, path, 0, slash + 1);
    }
    path = std::move(target);
  }
}

// Names that do not grow with the target's: a fixed prefix and 16 hex digits, always 33 bytes.
class TemporaryNames {
 public:
  TemporaryNames() : _state(seed()) {}
  std::string next() {
    // splitmix64: every seed gives a full-period sequence of well-mixed values.
    const std::uint64_t value = mix64(_state += 0x9E3779B97F4A7C15u);
    std::string name = ".pytarntext-dump-";
    for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(value >> shift) & 15];
    return name;
  }

 private:
  // Unpredictable where the platform offers randomness, and never a failure where it does not:
  // O_EXCL settles any clash.
  static std::uint64_t seed() {
    std::uint64_t value =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::getpid()) << 40);
    try {
      std::random_device device;
      value ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception&) {
    }
    return value;
  }

  std::uint64_t _state;
};

// Errors that say the file cannot be made or renamed here, not that the disk is failing: the
// target, which is writable, is then written in place, as a plain write would.
bool refuses_route(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOSPC:
    case EDQUOT:
    case EMLINK:
    case EBUSY:
    case EXDEV:
    case ETXTBSY:
    case EEXIST:
    case EINVAL:
    case EOPNOTSUPP:
    case ENAMETOOLONG:
    case ENOSYS:
      return true;
    default:
      return false;
  }
}

// Errors of posix_fallocate that say the file cannot be reserved for, not that space is short.
bool cannot_reserve(int error) { return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

// The in-place route: reserve, write over, truncate, sync and close the target itself, each step
// checked. It keeps the file's inode, owner, mode and links. The new length is reserved before a
// byte changes, so that a disk too full for it fails with the old content whole; the new bytes
// then go over the old ones from the start, and the old tail is cut last (truncating first would
// free the reservation). A failure after the reservation leaves the file incomplete. Devices and
// pipes take this route too, without reservation, truncation or sync, which they do not support.
void write_in_place(Descriptor& target, const struct stat& status, std::string_view content,
                    const GoOn& go_on) {
  const int flags = ::fcntl(target.get(), F_GETFL);
  if (flags < 0 || ::fcntl(target.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) fail(errno);
  const bool regular = S_ISREG(status.st_mode);
  if (regular && !content.empty()) {
    const int reserved =
        ::posix_fallocate(target.get(), 0, static_cast<off_t>(content.size()));  // an errno
    if (reserved != 0 && !cannot_reserve(reserved)) fail(reserved);
  }
  int error = write_all(target.get(), content, go_on);
  if (error == 0 && regular && ::ftruncate(target.get(), static_cast<off_t>(content.size())) != 0) {
    error = errno;
  }
  if (error == 0 && regular && ::fsync(target.get()) != 0) error = errno;
  const int close_error = target.close();
  if (error == 0) error = close_error;
  if (error != 0) fail(error);
}

// Failures of chown and chmod that mean "not here": only root may give a file away, a user
// namespace cannot map every id, and some filesystems fix owners and modes by mount options.
bool not_permitted_here(int error) {
  return error == EPERM || error == EINVAL || error == EOPNOTSUPP;
}

// The replacement takes the old file's owner, group and mode before it holds a byte, as far as it
// may; a group it cannot keep gets no more than others had, so the old group's access goes to no
// one else. chown can clear the set-id bits, so the mode comes last.
int take_attributes(int fd, const struct stat& old) {
  mode_t mode = old.st_mode & 07777;
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    if (!not_permitted_here(errno)) return errno;
    if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      if (!not_permitted_here(errno)) return errno;
      const mode_t group_like_others = mode & S_IRWXG & ((mode & S_IRWXO) << 3);
      mode = (mode & ~S_IRWXG) | group_like_others;
    }
  }
  if (::fchmod(fd, mode) != 0 && !not_permitted_here(errno)) return errno;
  return 0;
}

// Gives the new file its old owner, group and mode, then its content, and syncs it: 0, or the errno
// of the step that failed.
int fill(int fd, const struct stat* old, std::string_view content, const GoOn& go_on) {
  int error = old ? take_attributes(fd, *old) : 0;
  if (error == 0) error = write_all(fd, content, go_on);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  return error;
}

// Makes a rename (or a link) in `directory` durable; a directory that cannot be opened for this
// still holds it.
void sync_directory(int directory) {
  Descriptor synced(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (synced.is_open()) ::fsync(synced.get());
}

// Renames the complete file `temporary` over `name`. Returns 0, or the errno of a rename refused as
// `refuses_route` tells, with the temporary file removed; throws for any other failure.
int rename_over(int directory, const std::string& temporary, const std::string& name) {
  if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) {
    const int rename_error = errno;
    ::unlinkat(directory, temporary.c_str(), 0);
    if (refuses_route(rename_error)) return rename_error;
    fail(rename_error);
  }
  sync_directory(directory);
  return 0;
}

#ifdef O_TMPFILE
// Gives the unnamed file `fd` the name `name` in `directory`: 0, or the errno of the refusal.
// AT_EMPTY_PATH needs a capability (CAP_DAC_READ_SEARCH) that most processes lack; the link
// through /proc needs /proc.
int link_unnamed(int fd, int directory, const std::string& name) {
  if (::linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                           : errno;
}

// The route through a file without a name (O_TMPFILE): created in `directory`, given its owner,
// mode and content and synced while it has no name, so that a crash until then leaves nothing;
// then linked as `name` itself for a new file, else as a temporary name that is at once renamed
// over `name`. Nothing when the kernel or the filesystem offers no such file, or it cannot be
// linked: the named route below then does the work, and finds its own errors. Otherwise as
// write_through_rename.
std::optional<int> write_unnamed(int directory, const std::string& name, const struct stat* old,
                                 std::string_view content, const GoOn& go_on) {
  // Private until it holds the old file's owner and mode; a new file gets what opening would.
  Descriptor file(::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, old ? 0600 : 0666));
  if (!file.is_open()) return std::nullopt;
  const int error = fill(file.get(), old, content, go_on);
  if (error != 0) fail(error);  // the file goes with its descriptor
  if (old == nullptr) {
    const int linked = link_unnamed(file.get(), directory, name);
    if (linked == 0) {
      const int close_error = file.close();
      if (close_error != 0) {
        ::unlinkat(directory, name.c_str(), 0);
        fail(close_error);
      }
      sync_directory(directory);
      return 0;
    }
    if (linked != EEXIST) return std::nullopt;
    // A file took the name meanwhile: replaced by the rename, as on the named route.
  }
  TemporaryNames names;
  std::string temporary;
  int linked = EEXIST;
  for (int attempt = 0; attempt < kMaxNameAttempts && linked == EEXIST; ++attempt) {
    temporary = names.next();
    linked = link_unnamed(file.get(), directory, temporary);
  }
  if (linked != 0) return std::nullopt;
  const int close_error = file.close();
  if (close_error != 0) {
    ::unlinkat(directory, temporary.c_str(), 0);
    fail(close_error);
  }
  return rename_over(directory, temporary, name);
}
#endif

// Writes `content` to `name` in `directory` through a new file that is renamed over it once
// complete on disk: an unnamed one where the system offers it, else a temporary file under a name
// of its own. Returns 0 on success; the errno of a failed create, or of a rename refused as
// `refuses_route` tells, with nothing left behind; throws for any other failure.
int write_through_rename(int directory, const std::string& name, const struct stat* old,
                         std::string_view content, const GoOn& go_on) {
#ifdef O_TMPFILE
  if (const std::optional<int> result = write_unnamed(directory, name, old, content, go_on)) {
    return *result;
  }
#endif
  TemporaryNames names;
  std::string temporary;
  Descriptor file;
  for (int attempt = 0; attempt < kMaxNameAttempts && !file.is_open(); ++attempt) {
    temporary = names.next();
    file.reset(::openat(directory, temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, old ? 0600 : 0666));
    if (!file.is_open() && errno != EEXIST) return errno;
  }
  if (!file.is_open()) return EEXIST;

  int error = fill(file.get(), old, content, go_on);
  const int close_error = file.close();
  if (error == 0) error = close_error;
  if (error != 0) {
    ::unlinkat(directory, temporary.c_str(), 0);
    fail(error);
  }
  return rename_over(directory, temporary, name);
}

// Opens an existing file to write without waiting, as a device's open may wait for good; only a
// FIFO that no reader holds yet is opened again to wait for one, as Python's open waits, until a
// signal ends the wait where go_on says so. The errno of a failure stays for the caller.
int open_existing(const std::string& path, const GoOn& go_on) {
  constexpr int kWrite = O_WRONLY | O_NOCTTY | O_CLOEXEC;
  const int fd = ::open(path.c_str(), kWrite | O_NONBLOCK);
  if (fd >= 0 || errno != ENXIO) return fd;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) {
    errno = ENXIO;
    return -1;
  }
  for (;;) {
    const int waited = ::open(path.c_str(), kWrite);
    if (waited >= 0 || errno != EINTR) return waited;
    if (go_on && !go_on()) {
      errno = EINTR;
      return -1;
    }
  }
}

}  // namespace

// Replaces the file at `path` with `content` so that no failure or crash part-way leaves it cut
// short, wherever a file can be created and renamed beside it; elsewhere writes it in place, as
// opening the path would. A path that cannot be opened for writing is refused, untouched.
void replace_file(const std::string& path, std::string_view content, const GoOn& go_on) {
  if (path.empty()) fail_open(ENOENT);
  if (path.find('\0') != std::string::npos) fail_open(EINVAL);
  // The kernel's own open, links followed and without O_CREAT, tells whether the file exists and
  // may be written; for devices, pipes and /proc's fd links it is the file to write.
  Descriptor existing(open_existing(path, go_on));
  const int open_error = existing.is_open() ? 0 : errno;
  struct stat status {};
  if (!existing.is_open() && open_error != ENOENT) fail_open(open_error);
  if (existing.is_open()) {
    if (::fstat(existing.get(), &status) != 0) fail(errno);
    if (!S_ISREG(status.st_mode)) return write_in_place(existing, status, content, go_on);
  }

  const std::optional<std::string> followed = follow_links(path);
  if (!followed) {
    if (!existing.is_open()) fail_open(open_error);
    return write_in_place(existing, status, content, go_on);
  }
  const std::string& target = *followed;
  const std::size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string directory_name =
      slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  if (name.empty() || name == "." || name == "..") fail_open(EISDIR);
  const Descriptor directory(::open(directory_name.c_str(), kDirectoryHandle));
  if (!directory.is_open()) {
    if (!existing.is_open()) fail_open(errno);
    return write_in_place(existing, status, content, go_on);
  }
  if (existing.is_open()) {
    // Renaming over the name must replace the very file that was opened.
    struct stat named {};
    if (::fstatat(directory.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != status.st_dev || named.st_ino != status.st_ino) {
      return write_in_place(existing, status, content, go_on);
    }
  }

  const int refused = write_through_rename(directory.get(), name,
                                           existing.is_open() ? &status : nullptr, content, go_on);
  if (refused == 0) return;
  if (!existing.is_open()) fail_open(refused);  // no file can be created here: nor could opening
  if (!refuses_route(refused)) fail(refused);
  write_in_place(existing, status, content, go_on);
}

}  // namespace tarn::posix
