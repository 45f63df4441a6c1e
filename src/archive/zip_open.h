// Opening an archive for minizip by a UTF-8 path, through file functions of
// our own over the platform's file layer (wide-character paths on Windows).
#pragma once

#include <string>
#include <unzip.h>

namespace archive {

// Opens the archive at `path` (UTF-8) and reads its end-of-central-directory
// record; null when the file cannot be opened or has no readable central
// directory. The caller closes it with unzClose.
unzFile openUnzip(const std::string &path);

} // namespace archive
