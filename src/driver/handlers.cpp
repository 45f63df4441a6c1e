#include "driver/handlers.h"

#include "driver/globals.h"
#include "driver/installation.h"
#include "driver/progress.h"
#include "process/process.h"
#include "process/run_directory.h"

#include <filesystem>
#include <system_error>

namespace driver {

const char kUpdateUrl[] = UPDATER_UPDATE_URL;

namespace {

constexpr char kArchiveName[] = "temp.temp";

// The path the engine saved the archive under, from the size-known event.
// Written and read on the engine's task thread only.
std::string gDownloadedPath;

void removeFile(const std::string &path) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path), ignored);
}

// Installs the downloaded archive; true when the update landed whole.
bool install() {
  const double total = totalSize.load();
  // Read inside the finished event, before the engine detaches the task.
  const auto received = downloader->receivedLength();
  const bool complete = !gDownloadedPath.empty() && total > 0 &&
                        static_cast<double>(received) >= total;
  int status = 0;
  if (complete)
    status = updateWindow().extract(gDownloadedPath, process::runDirectory());
  if (!gDownloadedPath.empty())
    removeFile(gDownloadedPath);
  return complete && status == 1;
}

} // namespace

std::string archivePath() {
  std::string path = process::runDirectory();
  path += process::kPathSeparator;
  path += kArchiveName;
  return path;
}

void handleWindowCreated() {
  const auto &arguments = process::commandLineArguments();
  if (arguments.empty())
    process::endProcess(0);
  if (arguments.front() != "-g")
    return; // Any other first argument leaves the window idle.

  // A leftover of an interrupted run would make the engine save this
  // download under another name; it is of no use, so it goes first.
  removeFile(archivePath());

  download::TaskParam &task = *taskParam;
  task.flags = download::kFlagDownload;
  download::referText(task.url, kUpdateUrl);
  task.stopWait = 1000;
  task.connectionCount = 5;
  download::setText(task.savePath, archivePath());
  task.connectTimeout = 5000;
  task.sendTimeout = 5000;
  task.receiveTimeout = 10000;
  task.receiveBlockSize = 10240;
  task.eventCallback = handleDownloadEvent;
  downloader->addTask(task);
  updateWindow().setTimerPeriod(10);
}

void handleDownloadTick() {
  ui::Window &window = updateWindow();
  const double rounded =
      roundPercent(downloadPercent(downloader->receivedLength(), totalSize.load()));
  window.setBarPosition(barValue(rounded));
  // The title takes a second reading, as bytes may have come meanwhile.
  const double rounded2 =
      roundPercent(downloadPercent(downloader->receivedLength(), totalSize.load()));
  window.setTitle(downloadTitle(rounded2));
}

void handleInstallProgress(std::int32_t percent) {
  ui::Window &window = updateWindow();
  window.setBarPosition(percent);
  window.setTitle(installTitle(percent));
}

std::int32_t handleDownloadEvent(download::EventArg code, download::EventArg,
                                 download::EventArg a3, download::EventArg a4,
                                 download::EventArg) {
  if (code == download::kEventSizeKnown) {
    totalSize = static_cast<double>(static_cast<std::int32_t>(a3));
    if (const auto *path = reinterpret_cast<const char *>(a4))
      gDownloadedPath = path;
    return 0;
  }
  if (code != download::kEventFinished)
    return 0;

  // Once the process is ending, the window, downloader and taskParam may be
  // gone: nothing is installed.
  if (process::endingMarkRaised() || !beginInstallation())
    return 0;
  updateWindow().setTimerPeriod(0);
  const bool installed = install();
  if (!finishInstallation())
    return 0;
  updateWindow().messageBox(installed ? kDoneMessage : kFailedMessage,
                            kMessageTitle,
                            installed ? ui::MessageIcon::information
                                      : ui::MessageIcon::warning);
  process::endProcess(installed ? 0 : 1);
}

} // namespace driver
