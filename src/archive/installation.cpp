#include "archive/installation.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "archive/entry_names.h"
#include "process/run_directory.h"

namespace archive {

Installation::Installation(std::string stagingFolder)
    : stagingFolder_(std::move(stagingFolder)) {}

Installation::~Installation() {
  if (open_) {
    rollBack();
  }
}

Status Installation::createDirectories(const std::vector<std::string> &chain) {
  for (const std::string &directory : chain) {
    if (knownDirectories_.count(directory) != 0) {
      continue;
    }
    Result<fs::NodeKind> kind = fs::nodeKind(directory);
    if (!kind) {
      return kind.status();
    }
    if (kind.value() == fs::NodeKind::Directory) {
      knownDirectories_.insert(directory);
      continue;
    }
    if (kind.value() == fs::NodeKind::File) {
      return Error{0, "create directory (a file is in the way)", directory};
    }
    if (Status made = fs::createDirectory(directory); !made) {
      return made;
    }
    steps_.push_back(
        Step{Step::Kind::CreatedDirectory, directory, {}, {}, false});
    knownDirectories_.insert(directory);
  }
  return {};
}

Status Installation::createStagingFolder() {
  if (Status made = fs::createDirectory(stagingFolder_); !made) {
    return made;
  }
  stepsBeforeStaging_ = steps_.size();
  stagingCreated_ = true;
  return {};
}

Status Installation::placeFile(const std::string &staged,
                               const std::string &target) {
  Result<fs::NodeKind> kind = fs::nodeKind(target);
  if (!kind) {
    return kind.status();
  }
  if (kind.value() == fs::NodeKind::Directory) {
    return Error{0, "replace file (a directory is in the way)", target};
  }
  if (kind.value() == fs::NodeKind::File && exchangeWorks_) {
    // One step that never leaves `target` missing: the old file takes the
    // staged file's place and waits there for the end. The step is recorded
    // first, so that nothing done goes unrecorded.
    steps_.push_back(Step{Step::Kind::ExchangedFile, target, staged, {}, true});
    Result<bool> exchanged = fs::exchangeFiles(staged, target);
    if (exchanged && exchanged.value()) {
      return {};
    }
    steps_.pop_back();
    if (!exchanged) {
      return exchanged.status();
    }
    exchangeWorks_ = false;
  }
  if (kind.value() == fs::NodeKind::File) {
    Result<fs::Attributes> attributes = fs::readAttributes(target);
    if (!attributes) {
      return attributes.status();
    }
    if (Status reset = fs::setNormalAttributes(target, attributes.value());
        !reset) {
      return reset;
    }
    std::string aside = stagingFolder_;
    aside += process::kPathSeparator;
    aside += "old-" + std::to_string(keptAsideCount_++);
    if (Status moved = fs::renamePath(target, aside); !moved) {
      (void)fs::writeAttributes(target, attributes.value());
      return moved;
    }
    steps_.push_back(Step{Step::Kind::ReplacedFile, target, std::move(aside),
                          attributes.value(), false});
    if (Status placed = fs::renamePath(staged, target); !placed) {
      return placed;
    }
    steps_.back().newFilePlaced = true;
  } else {
    if (Status placed = fs::renamePath(staged, target); !placed) {
      return placed;
    }
    steps_.push_back(Step{Step::Kind::AddedFile, target, {}, {}, false});
  }
  return {};
}

namespace {

// The in-use folder that belongs beside `stagingFolder`.
std::string inUseFolderBeside(const std::string &stagingFolder) {
  const std::size_t cut = stagingFolder.rfind(process::kPathSeparator);
  std::string folder =
      cut == std::string::npos ? std::string() : stagingFolder.substr(0, cut + 1);
  folder += kInUseFolderName;
  return folder;
}

// Removes the files, sharing them with helper threads when there are many:
// freeing the blocks of replaced files is, on many file systems, the
// slowest step of an update, and most of it is spent waiting on the disk
// (a volume that discards freed blocks waits for each file), so many
// threads overlap those waits even on two cores.
// Returns the paths that could not be removed.
std::vector<std::string> removeFiles(const std::vector<std::string> &paths) {
  constexpr std::size_t kFilesPerThread = 128;
  constexpr std::size_t kMaximumThreads = 16;
  const std::size_t wanted = std::clamp<std::size_t>(
      paths.size() / kFilesPerThread, 1, kMaximumThreads);
  std::atomic<std::size_t> next{0};
  std::mutex keptMutex;
  std::vector<std::string> kept; // guarded by keptMutex
  const auto removeSome = [&paths, &next, &keptMutex, &kept] {
    for (std::size_t i = next++; i < paths.size(); i = next++) {
      try {
        if (!fs::removeFile(paths[i])) {
          std::lock_guard lock(keptMutex);
          kept.push_back(paths[i]);
        }
      } catch (...) {
        // Left for the staging folder's own removal.
      }
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t i = 1; i < wanted; ++i) {
    try {
      helpers.emplace_back(removeSome);
    } catch (...) {
      break; // fewer helpers; the calling thread still removes the rest
    }
  }
  removeSome();
  for (std::thread &helper : helpers) {
    helper.join();
  }
  return kept;
}

} // namespace

void Installation::finish() {
  open_ = false;
  std::vector<std::string> keptAside;
  for (Step &step : steps_) {
    if (step.kind == Step::Kind::ReplacedFile ||
        step.kind == Step::Kind::ExchangedFile) {
      keptAside.push_back(std::move(step.keptAside));
    }
  }
  steps_.clear();
  for (const std::string &inUse : removeFiles(keptAside)) {
    keepInUseCopy(inUse);
  }
  if (stagingCreated_) {
    (void)fs::removeTree(stagingFolder_);
  }
}

// A copy that is still in use would keep the staging folder, and with it
// every later update, from being removed; it moves on to the in-use folder
// under a name not taken yet. Renaming works where deleting did not.
void Installation::keepInUseCopy(const std::string &path) {
  const std::string folder = inUseFolderBeside(stagingFolder_);
  if (Result<fs::NodeKind> kind = fs::nodeKind(folder);
      !kind || kind.value() == fs::NodeKind::Missing) {
    (void)fs::createDirectory(folder);
  }
  constexpr int kMaximumCandidates = 1000;
  for (int n = 0; n < kMaximumCandidates; ++n) {
    std::string candidate = folder;
    candidate += process::kPathSeparator;
    candidate += "old-" + std::to_string(n);
    Result<fs::NodeKind> kind = fs::nodeKind(candidate);
    if (kind && kind.value() == fs::NodeKind::Missing) {
      (void)fs::renamePath(path, candidate);
      return;
    }
  }
}

void removeInUseLeftovers(std::string_view targetDirectory) {
  (void)fs::removeTree(
      joinTargetPath(targetDirectory, {kInUseFolderName}, kNativeNameStyle));
}

void Installation::undo(const Step &step) {
  switch (step.kind) {
  case Step::Kind::CreatedDirectory:
    (void)fs::removeEmptyDirectory(step.path);
    break;
  case Step::Kind::AddedFile:
    (void)fs::removeFile(step.path);
    break;
  case Step::Kind::ExchangedFile:
    // The old file, untouched, replaces the new one.
    (void)fs::renamePath(step.keptAside, step.path);
    break;
  case Step::Kind::ReplacedFile:
    if (step.newFilePlaced) {
      (void)fs::removeFile(step.path);
    }
    if (fs::renamePath(step.keptAside, step.path)) {
      (void)fs::writeAttributes(step.path, step.attributes);
    }
    break;
  }
}

void Installation::rollBack() {
  open_ = false;
  for (std::size_t i = steps_.size(); i > stepsBeforeStaging_; --i) {
    undo(steps_[i - 1]);
  }
  if (stagingCreated_) {
    (void)fs::removeTree(stagingFolder_);
  }
  for (std::size_t i = std::min(stepsBeforeStaging_, steps_.size()); i > 0;
       --i) {
    undo(steps_[i - 1]);
  }
  steps_.clear();
}

} // namespace archive
