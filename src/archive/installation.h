// Moving staged entries into the target directory as one change that can be
// taken back whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "archive/entry_names.h"
#include "archive/file_system.h"
#include "archive/result.h"

namespace archive {


// Deletes what it can of the copies an earlier update left in the in-use
// folder of `targetDirectory`, and the folder itself once empty. A copy
// still in use stays for the next time. Nothing is reported: the folder
// harms nothing while it waits.
void removeInUseLeftovers(std::string_view targetDirectory);

// Records every change made to the target directory so that a failure can
// put the directory back exactly as it was: directories made are removed,
// files added are removed, and each file replaced is kept aside in the
// staging folder until the end and then put back with its attributes.
// Calling thread only. The destructor takes everything back unless
// finish() was called.
class Installation {
public:
  explicit Installation(std::string stagingFolder);
  Installation(const Installation &) = delete;
  Installation &operator=(const Installation &) = delete;
  ~Installation();

  // Creates, outermost first, each directory of `chain` that is missing.
  // Fails when one of them is a file.
  Status createDirectories(const std::vector<std::string> &chain);

  // Marks the staging folder as made: it is removed on roll-back before the
  // directories made until now, since it may lie inside them.
  Status createStagingFolder();

  // Moves the staged file `staged`, whose attributes are already normal, to
  // `target`. A file already at `target` is kept aside: swapped with the
  // staged file where the file system can, otherwise moved into the staging
  // folder after its attributes are reset to normal. A directory there is a
  // failure.
  Status placeFile(const std::string &staged, const std::string &target);

  // Keeps the changes and deletes the staging folder with the files kept
  // aside. A kept file that cannot be deleted, because it is still in use,
  // is moved on into the in-use folder. A failure to delete is not
  // reported: the next run removes a staging folder it finds.
  void finish();

  // Takes every change back, newest first, then removes the staging folder.
  // Continues past failures, which it cannot report anywhere better.
  void rollBack();

private:
  struct Step {
    enum class Kind {
      CreatedDirectory,
      AddedFile,
      ReplacedFile,  // the old file moved aside, then the new one moved in
      ExchangedFile, // the old and the new file swapped in one step
    } kind;
    std::string path;
    std::string keptAside;       // ReplacedFile and ExchangedFile
    fs::Attributes attributes{}; // ReplacedFile only: before the reset
    bool newFilePlaced = false;  // ReplacedFile only
  };
  void undo(const Step &step);
  void keepInUseCopy(const std::string &path);

  std::string stagingFolder_;
  std::vector<Step> steps_;
  // Directories seen to exist or made, so that each is looked at once.
  std::unordered_set<std::string> knownDirectories_;
  std::size_t stepsBeforeStaging_ = 0;
  bool stagingCreated_ = false;
  std::size_t keptAsideCount_ = 0;
  // Cleared when the file system turns out to have no exchange.
  bool exchangeWorks_ = true;
  bool open_ = true;
};

} // namespace archive
