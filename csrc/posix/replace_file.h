#pragma once

// Replacing a file's content as opening its path for writing would reach it, without leaving it
// cut short wherever that can be avoided. The path's symbolic links are followed to the file they
// name (a relative target taken from the link's own directory, at most 40 links): a dangling link
// creates the file it names, and the links themselves are never replaced. A link under /proc
// (where /dev/stdout and /dev/fd/N lead) names an open file, not a path: a regular one is written
// in place. Then the first route that the target allows:
//
// replace   The target is a regular file or does not exist yet, and a new file can be created
//           beside it and renamed over it. On Linux the new file is made without a name
//           (O_TMPFILE) and written, given the old file's attributes and synced while it has none;
//           then a new file is linked as the target's name, and a replacement as a temporary name
//           (".pytarntext-dump-" and 16 hex digits) that is renamed over the target at once. A
//           crash at any moment leaves the old file whole and nothing else, but between that link
//           and the rename (two system calls) the complete new file under its temporary name. Where
//           the kernel or the filesystem offers no unnamed file, or it cannot be linked (no /proc
//           and no right to link a descriptor), the temporary file is created under its name and
//           written there: a failure removes it, but a crash while it is written leaves it,
//           incomplete, and later dumps do not remove it. Atomic either way: readers see the whole
//           old file or the whole new one, and a failure or crash at any point leaves the old file
//           whole; the file and the directory are synced before the call returns. The old file's
//           owner, group and mode are set before the first byte is written, the new file private
//           until then (only root can give a file away; a user keeps the group if it is theirs, and
//           a group that cannot be kept gets no more access than others had); a new file gets 0666
//           less the umask. Hard links to the old file keep the old content; ACLs and extended
//           attributes are not carried over. A disk that has an inode but no room for the copy
//           fails the dump with the old file whole, even where the old file's own space would
//           hold the new content: the copy is what keeps the old file whole.
// in place  The target is a writable regular file, but no file can be created beside it (a
//           read-only directory, no inode or inode quota for a new file) or the rename is refused
//           (a sticky directory such as /tmp holding another user's file, a file mounted over the
//           name). The file keeps its inode, owner, mode and links. The new length is reserved
//           first (posix_fallocate), so that a disk too full for the new content fails with the
//           old content whole; the new bytes are then written over the old ones from the start and
//           the old tail cut last, then synced and closed, each failure raised. A failure after the
//           reservation leaves it incomplete, and readers may see it part-written. Where the
//           filesystem can reserve nothing (and on copy-on-write filesystems, where overwriting
//           takes new blocks too), running out of space part-way leaves the new bytes' prefix over
//           the old ones.
// device    The target is not a regular file (a device, a pipe, /dev/stdout on a terminal or a
//           pipe). Written as it stands, without truncation or sync; write and close failures
//           raise.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarn::posix {

// Why a file was not replaced: the system's message for the errno of the step that failed, or
// "Unable to open file" when opening the path for writing would fail (an empty path, a missing
// directory, a directory, no write permission, a loop of links), in which case nothing was
// created or changed. Either way it holds that errno, the one opening would have set in the
// second case (EINVAL for a path holding a NUL byte, which no system call takes).
class ReplaceError : public std::runtime_error {
 public:
  ReplaceError(const std::string& message, int error_number)
      : std::runtime_error(message), _error_number(error_number) {}
  int error_number() const { return _error_number; }

 private:
  int _error_number;
};

// Writes `content` to the file that opening `path` for writing would reach, by the routes above.
// Throws ReplaceError.
// Called when a signal interrupts a write that blocks (a pipe nobody empties): whether to go on
// writing. Where it says no, the call fails as a failed write does ("Interrupted system call").
using GoOn = std::function<bool()>;

void replace_file(const std::string& path, std::string_view content, const GoOn& go_on = {});

}  // namespace tarn::posix
