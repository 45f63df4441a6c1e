// The file operations that are the same on every platform, built on the
// platform's own.
#include "archive/file_system.h"

namespace archive::fs {

Result<std::string> readHead(const std::string &path, std::size_t count) {
  Result<std::unique_ptr<InputFile>> file = InputFile::open(path);
  if (!file) {
    return file.error();
  }
  std::string head(count, '\0');
  Result<std::size_t> got = file.value()->readAt(head.data(), count, 0);
  if (!got) {
    return got.error();
  }
  head.resize(got.value());
  return head;
}

} // namespace archive::fs
