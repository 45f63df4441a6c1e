// Drives the download engine alone for the benchmark: fetches URL into
// OUTPUT over CONNECTIONS connections and exits when the task ends. With
// "--idle" it only creates the engine's object and exits, which gives the
// process's baseline memory.
#include "download/download.h"
#include "download/task_param.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex finishedMutex;
std::condition_variable finishedChanged;
bool finished = false;              // guarded by finishedMutex
std::atomic<bool> failed{false};    // set on the task thread
std::atomic<long long> received{0}; // set on the task thread

std::int32_t onEvent(download::EventArg code, download::EventArg, download::EventArg a3,
                     download::EventArg, download::EventArg) {
  if (code == download::kEventConnectionFailed)
    failed = true;
  if (code == download::kEventFinished) {
    received = a3;
    std::lock_guard lock(finishedMutex);
    finished = true;
    finishedChanged.notify_all();
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--idle") == 0) {
    download::Download idle;
    download::TaskParam *param = download::createTaskParam();
    download::releaseTaskParam(param);
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s URL OUTPUT CONNECTIONS | --idle\n", argv[0]);
    return 2;
  }
  download::Download downloader;
  download::TaskParam *param = download::createTaskParam();
  download::setText(param->url, argv[1]);
  download::setText(param->savePath, argv[2]);
  param->connectionCount = std::atoi(argv[3]);
  param->eventCallback = &onEvent;
  if (!downloader.addTask(*param)) {
    std::fprintf(stderr, "the engine refused %s\n", argv[1]);
    return 1;
  }
  download::releaseTaskParam(param);
  {
    std::unique_lock lock(finishedMutex);
    finishedChanged.wait(lock, [] { return finished; });
  }
  if (failed || received <= 0) {
    std::fprintf(stderr, "the download failed (%lld bytes)\n", received.load());
    return 1;
  }
  return 0;
}
