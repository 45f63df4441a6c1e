#include "archive/zip_open.h"

#include "platform/win32/text.h"
#include "platform/win32/win32.h"

#include <iowin32.h>

namespace archive {

unzFile openUnzip(const std::string &path) {
  // minizip's default file functions would pass the path to fopen, which
  // reads it in the ANSI code page; its wide-character functions take the
  // UTF-16 path, so an archive in a folder of any name opens.
  zlib_filefunc64_def functions{};
  fill_win32_filefunc64W(&functions);
  const std::wstring wide = platform::win32::toWide(path);
  return unzOpen2_64(wide.c_str(), &functions);
}

} // namespace archive
