#include "driver/globals.h"

#include "driver/installation.h"

namespace driver {

download::Download *downloader = nullptr;
download::TaskParam *taskParam = nullptr;
std::atomic<double> totalSize{0.0};

static_assert(std::atomic<double>::is_always_lock_free,
              "totalSize must pass between threads without a lock");

void initGlobals() {
  downloader = new download::Download();
  taskParam = download::createTaskParam();
}

void releaseGlobals() {
  // An installation under way uses downloader; it is finished, or rolled
  // back, first.
  awaitInstallation();
  downloader->destroy();
  delete downloader;
  download::releaseTaskParam(taskParam);
}

} // namespace driver
