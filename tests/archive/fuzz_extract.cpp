// libFuzzer target: unpacks each input as an archive into a scratch folder
// and stops the run when anything appears outside that folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <vector>

#include "archive/extract.h"
#include "archive/file_system.h"

namespace {

// root/in.zip is the input; root/d1/d2/target the scratch folder, deep
// enough that a name climbing out with ".." lands where this check looks.
struct Layout {
  std::string root;
  std::string archive;
  std::string target;
};

const Layout &layout() {
  static const Layout paths = [] {
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp");
    pattern += "/archive-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    Layout made{pattern, pattern + "/in.zip", pattern + "/d1/d2/target"};
    mkdir((pattern + "/d1").c_str(), 0755);
    mkdir((pattern + "/d1/d2").c_str(), 0755);
    return made;
  }();
  return paths;
}

std::set<std::string> list(const std::string &folder) {
  std::set<std::string> names;
  if (DIR *directory = opendir(folder.c_str())) {
    while (const dirent *entry = readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.insert(name);
      }
    }
    closedir(directory);
  }
  return names;
}

void expectOnly(const std::string &folder,
                const std::set<std::string> &allowed) {
  for (const std::string &name : list(folder)) {
    if (allowed.count(name) == 0) {
      std::fprintf(stderr, "written outside the scratch folder: %s/%s\n",
                   folder.c_str(), name.c_str());
      std::abort();
    }
  }
}

// Where a stored name would land if joined to the target without any
// check, with "." and ".." resolved as text; empty when it stays inside.
std::string naiveEscape(const std::string &target, std::string name) {
  for (char &c : name) {
    if (c == '\\') {
      c = '/';
    }
  }
  const bool absolute = !name.empty() && name[0] == '/';
  std::vector<std::string> parts;
  std::string base = absolute ? std::string() : target;
  std::string whole = base + "/" + name;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= whole.size(); ++i) {
    if (i == whole.size() || whole[i] == '/') {
      const std::string part = whole.substr(start, i - start);
      if (part == "..") {
        if (!parts.empty()) {
          parts.pop_back();
        }
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = i + 1;
    }
  }
  std::string resolved;
  for (const std::string &part : parts) {
    resolved += "/" + part;
  }
  if (resolved.rfind(target + "/", 0) == 0 || resolved == target) {
    return {};
  }
  return resolved;
}

// The stored names that would escape, with whether each existed before.
std::vector<std::pair<std::string, bool>> escapingNames(const Layout &paths) {
  std::vector<std::pair<std::string, bool>> escapes;
  unzFile zip = unzOpen64(paths.archive.c_str());
  if (zip == nullptr) {
    return escapes;
  }
  std::vector<char> name(65536);
  for (int step = unzGoToFirstFile(zip); step == UNZ_OK;
       step = unzGoToNextFile(zip)) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, name.data(),
                                static_cast<uLong>(name.size()), nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
      break;
    }
    const std::string stored(name.data());
    const std::string escape = naiveEscape(paths.target, stored);
    if (!escape.empty()) {
      struct stat seen {};
      escapes.emplace_back(escape, lstat(escape.c_str(), &seen) == 0);
    }
  }
  unzClose(zip);
  return escapes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const Layout &paths = layout();
  if (FILE *out = std::fopen(paths.archive.c_str(), "wb")) {
    if (size > 0) {
      std::fwrite(data, 1, size, out);
    }
    std::fclose(out);
  } else {
    std::abort();
  }
  const auto escapes = escapingNames(paths);
  int events = 0;
  const int status =
      archive::extract(paths.archive, paths.target, [&](int percent) {
        if (percent < 0 || percent > 100) {
          std::abort();
        }
        ++events;
        return true;
      });
  if (status < -1 || status > 1 || events == 0) {
    std::abort();
  }
  expectOnly(paths.root, {"in.zip", "d1"});
  expectOnly(paths.root + "/d1", {"d2"});
  expectOnly(paths.root + "/d1/d2", {"target"});
  for (const auto &[path, existed] : escapes) {
    struct stat now {};
    if (!existed && lstat(path.c_str(), &now) == 0) {
      std::fprintf(stderr, "written outside the scratch folder: %s\n",
                   path.c_str());
      std::abort();
    }
  }
  if (!archive::fs::removeTree(paths.target)) {
    std::abort();
  }
  return 0;
}
