#include "driver/program.h"

#include "driver/globals.h"
#include "driver/handlers.h"
#include "archive/installation.h"
#include "download/download.h"
#include "process/run_directory.h"
#include "process/process.h"

#include <cfenv>

namespace driver {
namespace {

ui::Window *gWindow = nullptr; // window thread; alive until the process ends

} // namespace

ui::Window &updateWindow() { return *gWindow; }

int programStart() { return programStart(ui::openBackend()); }

int programStart(std::unique_ptr<ui::Backend> backend) {
  // The window lives until the process ends, which never returns here.
  gWindow = new ui::Window(std::move(backend));
  process::initialise(gWindow);
  download::initialiseEngine();
  process::addShutdownRoutine(download::shutdownEngine);
  // Old copies of files that were in use during the last update (Windows
  // cannot delete a running program) go now.
  archive::removeInUseLeftovers(process::runDirectory());

  // Every floating-point exception masked and rounding to nearest, so that
  // a division by zero gives an infinity or a NaN and never traps.
  std::fesetenv(FE_DFL_ENV);

  initGlobals();
  process::registerExitRoutine(releaseGlobals);

  ui::Bindings bindings;
  bindings.created = handleWindowCreated;
  bindings.tick = handleDownloadTick;
  bindings.installProgress = handleInstallProgress;
  gWindow->load(bindings);
  gWindow->runMessageLoop();
  return 0;
}

} // namespace driver
