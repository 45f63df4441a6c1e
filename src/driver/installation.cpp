#include "driver/installation.h"

#include <condition_variable>
#include <mutex>

namespace driver {
namespace {

enum class State { idle, installing, installed, ending };

std::mutex gMutex;
std::condition_variable gChanged;
State gState = State::idle; // guarded by gMutex
bool gEndWaiting = false;   // guarded by gMutex

} // namespace

bool beginInstallation() {
  std::lock_guard lock(gMutex);
  if (gState != State::idle)
    return false;
  gState = State::installing;
  return true;
}

bool finishInstallation() {
  {
    std::lock_guard lock(gMutex);
    gState = State::installed;
    if (!gEndWaiting)
      return true;
  }
  gChanged.notify_all();
  return false;
}

void awaitInstallation() {
  std::unique_lock lock(gMutex);
  if (gState == State::idle) {
    gState = State::ending;
    return;
  }
  gEndWaiting = true;
  gChanged.wait(lock, [] { return gState != State::installing; });
}

} // namespace driver
