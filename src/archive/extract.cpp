#include "archive/extract.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "archive/entry_names.h"
#include "archive/file_system.h"
#include "archive/installation.h"
#include "archive/zip_reader.h"

namespace archive {
namespace {

constexpr std::size_t kMinimumArchiveSize = 32;
constexpr std::string_view kLocalHeaderSignature = "PK\x03\x04";
// Enough to keep two cores busy; more threads would only contend for the
// disk.
constexpr unsigned kMaximumStagingThreads = 4;
constexpr std::size_t kUnpackBufferSize = 256 * 1024;

// One entry as it will be installed. Kept small: an archive may hold tens
// of thousands of entries.
struct PlannedEntry {
  const ZipEntry *entry = nullptr;
  bool directory = false;
  bool executable = false;
  std::string targetPath;
};

// Where file entry `index` is unpacked before it is moved into place.
std::string stagedPath(const std::string &stagingFolder, std::size_t index) {
  std::string path = stagingFolder;
  path += process::kPathSeparator;
  path += std::to_string(index);
  return path;
}

// The directories from the target directory down to the entry itself (for
// a directory) or to its parent (for a file). `baseLength` is the length of
// the target directory's part of `planned.targetPath`, its separator
// included; each separator after it ends one component.
std::vector<std::string> directoryChainOf(const PlannedEntry &planned,
                                          std::size_t baseLength) {
  std::vector<std::string> chain;
  const std::string &path = planned.targetPath;
  for (std::size_t i = baseLength; i < path.size(); ++i) {
    if (path[i] == process::kPathSeparator) {
      chain.push_back(path.substr(0, i));
    }
  }
  if (planned.directory && path.size() > baseLength) {
    chain.push_back(path);
  }
  return chain;
}

// Unpacks the planned file entries into the staging folder on worker
// threads, each with its own minizip handle, taking the entries in order.
// The calling thread waits for each entry in turn, so its progress events
// keep the entries' order. When no thread can be started, entries are
// unpacked on the calling thread as they are asked for.
class Stager {
public:
  Stager(const std::string &archivePath, const std::string &stagingFolder,
         const std::vector<PlannedEntry> &plan)
      : archivePath_(archivePath), stagingFolder_(stagingFolder), plan_(plan),
        results_(plan.size()) {
    std::size_t files = 0;
    for (const PlannedEntry &planned : plan) {
      files += planned.directory ? 0 : 1;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t wanted =
        std::min<std::size_t>({cores, kMaximumStagingThreads, files});
    for (std::size_t i = 0; i < wanted; ++i) {
      try {
        threads_.emplace_back([this] { work(); });
      } catch (...) {
        break; // fewer threads, or the calling thread alone
      }
    }
  }

  Stager(const Stager &) = delete;
  Stager &operator=(const Stager &) = delete;
  ~Stager() { stopAndJoin(); }

  // Waits until entry `index` is staged. Calling thread only, for indexes
  // in increasing order.
  Status waitFor(std::size_t index) {
    if (threads_.empty()) {
      if (!inlineWorker_) {
        inlineWorker_.emplace();
      }
      return stage(*inlineWorker_, index);
    }
    std::unique_lock lock(mutex_);
    staged_.wait(lock, [&] { return results_[index].has_value(); });
    return *results_[index];
  }

  // Stops the workers after, or in the middle of, their current entries and
  // waits for them, so that no staged file is open any more.
  void stopAndJoin() {
    stop_ = true;
    for (std::thread &thread : threads_) {
      if (thread.joinable()) {
        thread.join();
      }
    }
  }

private:
  // What one thread keeps between entries.
  struct Worker {
    std::optional<ZipReader> reader;
    std::vector<unsigned char> buffer;
  };

  // Worker threads only. Catches everything: no exception may leave a
  // thread.
  void work() {
    Worker worker;
    // The caller waits for no entry once it has asked the workers to stop,
    // so an entry left untaken then needs no result.
    while (!stop_) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= plan_.size()) {
        break;
      }
      Status result;
      try {
        result = stage(worker, index);
      } catch (...) {
        result =
            Error{0, "unpack entry (out of memory)", plan_[index].targetPath};
      }
      {
        std::lock_guard lock(mutex_);
        results_[index] = std::move(result);
      }
      staged_.notify_all();
    }
  }

  Status stage(Worker &worker, std::size_t index) {
    const PlannedEntry &planned = plan_[index];
    if (planned.directory) {
      return {};
    }
    if (!worker.reader) {
      Result<ZipReader> opened = ZipReader::open(archivePath_);
      if (!opened) {
        return opened.status();
      }
      worker.reader.emplace(std::move(opened.value()));
      worker.buffer.resize(kUnpackBufferSize);
    }
    const std::string staged = stagedPath(stagingFolder_, index);
    Result<fs::OutputFile> out = fs::OutputFile::create(
        staged, planned.executable ? fs::OutputFile::Mode::Executable
                                   : fs::OutputFile::Mode::Plain);
    if (!out) {
      return out.status();
    }
    if (Status unpacked = worker.reader->unpack(*planned.entry, out.value(),
                                                worker.buffer, stop_);
        !unpacked) {
      return unpacked;
    }
    if (Status closed = out.value().close(); !closed) {
      return closed;
    }
    // The attributes go with the file when it is moved into place.
    Result<fs::Attributes> attributes = fs::readAttributes(staged);
    if (!attributes) {
      return attributes.status();
    }
    return fs::setNormalAttributes(staged, attributes.value());
  }

  const std::string &archivePath_;        // read by every thread
  const std::string &stagingFolder_;      // read by every thread
  const std::vector<PlannedEntry> &plan_; // read by every thread
  std::atomic<std::size_t> next_{0};      // the next entry to take
  std::atomic<bool> stop_{false};         // set by the calling thread
  std::mutex mutex_;
  std::condition_variable staged_;             // a result was stored
  std::vector<std::optional<Status>> results_; // guarded by mutex_
  std::optional<Worker> inlineWorker_;         // calling thread only
  std::vector<std::thread> threads_;           // calling thread only
};

class Extraction {
public:
  Extraction(std::string_view archivePath, std::string_view targetDirectory,
             const ProgressHandler &progress)
      : archivePath_(archivePath), target_(targetDirectory),
        stagingFolder_(
            joinTargetPath(target_, {kStagingFolderName}, kNativeNameStyle)),
        baseLength_(joinTargetPath(target_, {"x"}, kNativeNameStyle).size() -
                    1),
        progress_(progress) {}

  int run() {
    Result<fs::NodeKind> archiveKind = fs::nodeKind(archivePath_);
    if (archiveKind && archiveKind.value() == fs::NodeKind::Missing) {
      notify(0);
      return kExtractMissing;
    }
    Installation installation(stagingFolder_);
    if (!archiveKind || archiveKind.value() != fs::NodeKind::File ||
        target_.empty() ||
        !installation.createDirectories(
            directoryChain(target_, kNativeNameStyle))) {
      return refuse();
    }
    Result<std::string> head = fs::readHead(archivePath_, kMinimumArchiveSize);
    if (!head || head.value().size() < kMinimumArchiveSize ||
        !head.value().starts_with(kLocalHeaderSignature)) {
      return refuse();
    }
    // A staging folder left by a run that did not end belongs to no one now.
    if (!fs::removeTree(stagingFolder_)) {
      return refuse();
    }
    std::vector<ZipEntry> entries;
    {
      Result<ZipReader> reader = ZipReader::open(archivePath_);
      if (!reader) {
        return refuse();
      }
      entries = reader.value().listEntries();
    }
    std::vector<PlannedEntry> plan;
    if (!makePlan(entries, plan)) {
      return refuse();
    }
    const std::size_t count = plan.size();
    if (count == 0) {
      installation.finish();
      notify(0);
      return kExtractDone;
    }
    if (!installation.createStagingFolder()) {
      return refuse();
    }

    Stager stager(archivePath_, stagingFolder_, plan);
    for (std::size_t i = 0; i < count; ++i) {
      if (!stager.waitFor(i)) {
        stager.stopAndJoin();
        installation.rollBack();
        notify(100);
        return kExtractFailed;
      }
      if (!notify(progressPercent(i, count))) {
        // A run stopped by its caller leaves the target as it was: an
        // application half of whose files are new is worse than the old
        // one. The run still ends normally.
        stager.stopAndJoin();
        installation.rollBack();
        return kExtractDone;
      }
    }
    stager.stopAndJoin();

    for (std::size_t i = 0; i < count; ++i) {
      const PlannedEntry &planned = plan[i];
      Status placed = installation.createDirectories(
          directoryChainOf(planned, baseLength_));
      if (placed && !planned.directory) {
        placed = installation.placeFile(stagedPath(stagingFolder_, i),
                                        planned.targetPath);
      }
      if (!placed) {
        installation.rollBack();
        notify(100);
        return kExtractFailed;
      }
    }
    installation.finish();
    notify(100);
    return kExtractDone;
  }

private:
  bool notify(int percent) { return !progress_ || progress_(percent); }

  // An archive refused before any entry is written: one event with 0.
  // The caller's Installation takes back the directories made so far.
  int refuse() {
    notify(0);
    return kExtractFailed;
  }

  // Decides where every entry goes and refuses the whole archive, before
  // anything is written, for a name that would land outside the target or
  // clash with another, an entry this reader cannot unpack, a file whose
  // directory will not exist, or sizes beyond the free space.
  bool makePlan(const std::vector<ZipEntry> &entries,
                std::vector<PlannedEntry> &plan) {
    const bool absoluteTarget = isAbsolutePath(target_, kNativeNameStyle);
    NameSet names(kNativeNameStyle);
    // Directories looked up on disk, by target path.
    std::unordered_map<std::string, bool> existingDirectories;
    std::uint64_t declaredTotal = 0;
    plan.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const ZipEntry &entry = entries[i];
      if (entry.encrypted() || !entry.supportedMethod() ||
          entry.zip64Unreadable ||
          isSymbolicLinkEntry(entry.externalAttributes)) {
        return false;
      }
      if (entry.utf8Name() && !isValidUtf8(entry.storedName)) {
        return false;
      }
      const std::string name =
          entry.utf8Name() ? entry.storedName
                           : fs::nameFromLocalEncoding(entry.storedName);
      if (checkEntryName(name, kNativeNameStyle) != NameProblem::None) {
        return false;
      }
      PlannedEntry planned;
      planned.entry = &entry;
      planned.directory = isDirectoryEntry(entry.externalAttributes, name);
      planned.executable =
          isExecutableEntry(entry.versionMadeBy, entry.externalAttributes);
      std::vector<std::string_view> components = splitEntryName(name);
      if (components.empty() && !planned.directory) {
        return false;
      }
      planned.targetPath =
          joinTargetPath(target_, components, kNativeNameStyle);
      if (!planned.directory) {
        const std::vector<std::string_view> parent(components.begin(),
                                                   components.end() - 1);
        if (absoluteTarget && !parent.empty() && !names.hasDirectory(parent) &&
            !isExistingDirectory(
                joinTargetPath(target_, parent, kNativeNameStyle),
                existingDirectories)) {
          return false;
        }
        declaredTotal =
            entry.uncompressedSize >
                    std::numeric_limits<std::uint64_t>::max() - declaredTotal
                ? std::numeric_limits<std::uint64_t>::max()
                : declaredTotal + entry.uncompressedSize;
      }
      // "./" names the target directory, which holds no other entry's name.
      if (!components.empty() && !names.add(components, planned.directory)) {
        return false;
      }
      plan.push_back(std::move(planned));
    }
    if (declaredTotal > 0) {
      Result<std::uint64_t> free = fs::freeSpace(target_);
      if (!free || declaredTotal > free.value()) {
        return false;
      }
    }
    return true;
  }

  static bool isExistingDirectory(const std::string &path,
                                  std::unordered_map<std::string, bool> &seen) {
    const auto known = seen.find(path);
    if (known != seen.end()) {
      return known->second;
    }
    Result<fs::NodeKind> kind = fs::nodeKind(path);
    const bool directory = kind && kind.value() == fs::NodeKind::Directory;
    seen.emplace(path, directory);
    return directory;
  }

  std::string archivePath_;
  std::string target_;
  std::string stagingFolder_;
  // The length of the target directory with its separator at the start of
  // every entry's target path.
  std::size_t baseLength_;
  const ProgressHandler &progress_;
};

} // namespace

int extract(std::string_view archivePath, std::string_view targetDirectory,
            const ProgressHandler &progress) {
  // Errors are values inside the component; only running out of memory,
  // or a handler that throws, can raise an exception here, and it ends the
  // run as a failure with the target taken back by the destructors.
  try {
    return Extraction(archivePath, targetDirectory, progress).run();
  } catch (...) {
    return kExtractFailed;
  }
}

} // namespace archive
