// Unpacks an archive with archive::extract and reports the status and the
// progress events. Usage: archive_extract ARCHIVE TARGET-FOLDER
// Exits with 0 when the status is 1 and the last event was 100.
#include <cstdio>

#include "archive/extract.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE TARGET-FOLDER\n", argv[0]);
    return 2;
  }
  int events = 0;
  int last = -1;
  const int status = archive::extract(argv[1], argv[2], [&](int percent) {
    ++events;
    last = percent;
    return true;
  });
  std::printf("status %d, %d events, last %d\n", status, events, last);
  return status == archive::kExtractDone && last == 100 ? 0 : 1;
}
