#include "archive/zip_open.h"

namespace archive {

unzFile openUnzip(const std::string &path) {
  // minizip's default file functions open the path with fopen, which takes
  // the bytes of a UTF-8 path as they are.
  return unzOpen64(path.c_str());
}

} // namespace archive
