#include "archive_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

namespace archive::testing {
namespace {

void removeAll(const std::string &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    // Read-only folders left by a test must still be emptied.
    chmod(path.c_str(), 0700);
    if (DIR *directory = opendir(path.c_str())) {
      while (const dirent *entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
          removeAll(path + std::string("/") + name);
        }
      }
      closedir(directory);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string quote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

void walk(const std::string &root, const std::string &relative, Snapshot &out) {
  const std::string folder =
      relative.empty() ? root : root + std::string("/") + relative;
  DIR *directory = opendir(folder.c_str());
  if (directory == nullptr) {
    return;
  }
  std::vector<std::string> names;
  while (const dirent *entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(directory);
  for (const std::string &name : names) {
    const std::string child =
        relative.empty() ? name : relative + std::string("/") + name;
    const std::string full = root + std::string("/") + child;
    struct stat info {};
    if (lstat(full.c_str(), &info) != 0) {
      continue;
    }
    Node node;
    node.mode = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode)) {
      node.kind = 'd';
      out[child] = node;
      walk(root, child, out);
    } else if (S_ISLNK(info.st_mode)) {
      node.kind = 'l';
      std::vector<char> target(4096);
      const ssize_t length =
          readlink(full.c_str(), target.data(), target.size());
      node.content.assign(target.data(),
                          length > 0 ? static_cast<std::size_t>(length) : 0);
      out[child] = node;
    } else {
      node.content = readFile(full);
      out[child] = node;
    }
  }
}

} // namespace

ScratchFolder::ScratchFolder() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
      "/archive-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() { removeAll(path_); }

void writeZip(const std::string &path,
              const std::vector<FixtureEntry> &entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr) << path;
  for (const FixtureEntry &entry : entries) {
    zip_fileinfo info{};
    info.tmz_date = {0, 0, 12, 1, 0, 2024};
    info.external_fa = (entry.unixMode << 16) | entry.dosAttributes;
    const uLong versionMadeBy = entry.unixMode != 0 ? (3u << 8) | 20u : 20u;
    const uLong flags = entry.utf8Flag ? 0x0800u : 0u;
    const int method = entry.deflate ? Z_DEFLATED : 0;
    ASSERT_EQ(zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr,
                                      0, nullptr, 0, nullptr, method,
                                      Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
                                      DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                      nullptr, 0, versionMadeBy, flags, 0),
              ZIP_OK)
        << entry.name;
    ASSERT_EQ(zipWriteInFileInZip(zip, entry.data.data(),
                                  static_cast<unsigned>(entry.data.size())),
              ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

void runPython(const std::string &script,
               const std::vector<std::string> &args) {
  std::string command = "/usr/bin/python3 -c ";
  command += quote(script);
  for (const std::string &arg : args) {
    command += ' ';
    command += quote(arg);
  }
  ASSERT_EQ(runShell(command), 0) << command;
}

int runShell(const std::string &command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::size_t> findAll(const std::string &data,
                                 const std::string &what) {
  std::vector<std::size_t> offsets;
  for (std::size_t at = data.find(what); at != std::string::npos;
       at = data.find(what, at + 1)) {
    offsets.push_back(at);
  }
  return offsets;
}

int patchBytes(const std::string &path, const std::string &from,
               const std::string &to) {
  std::string data = readFile(path);
  const std::vector<std::size_t> offsets = findAll(data, from);
  for (std::size_t at : offsets) {
    data.replace(at, from.size(), to);
  }
  writeFile(path, data);
  return static_cast<int>(offsets.size());
}

Snapshot snapshot(const std::string &folder) {
  Snapshot out;
  walk(folder, "", out);
  return out;
}

std::string describeDifference(const Snapshot &expected,
                               const Snapshot &actual) {
  std::ostringstream text;
  for (const auto &[path, node] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      text << "missing: " << path << "\n";
    } else if (!(found->second == node)) {
      text << "changed: " << path << " (mode " << std::oct << node.mode
           << " -> " << found->second.mode << std::dec << ", "
           << node.content.size() << " -> " << found->second.content.size()
           << " bytes)\n";
    }
  }
  for (const auto &[path, node] : actual) {
    if (expected.find(path) == expected.end()) {
      text << "added: " << path << "\n";
    }
  }
  return text.str();
}

} // namespace archive::testing
