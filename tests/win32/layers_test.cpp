// The Windows layers of the download engine and of the ZIP component:
// loopback sockets, files created at full length and written at offsets
// from several threads, the wide-character file operations, archives in
// folders whose names need Unicode, and files in use replaced by renaming
// them aside.
#include "archive/extract.h"
#include "archive/file_system.h"
#include "archive/installation.h"
#include "download/platform.h"
#include "platform/win32/text.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
namespace net = download::platform;
using platform::win32::toUtf8;

std::string utf8(const stdfs::path &path) { return toUtf8(path.wstring()); }

// A folder of its own, with a name that needs Unicode, removed at the end.
class Folder {
public:
  Folder() {
    static int count = 0;
    path_ = stdfs::temp_directory_path() /
            (L"更新 测试-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(count++));
    stdfs::remove_all(path_);
    stdfs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    stdfs::remove_all(path_, ignored);
  }
  const stdfs::path &path() const { return path_; }

private:
  stdfs::path path_;
};

std::string readAll(const stdfs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const stdfs::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Opens `path` for reading as another program would hold it.
HANDLE holdOpen(const stdfs::path &path, DWORD share) {
  return ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// --- The engine's layer -----------------------------------------------

TEST(Win32EngineFiles, NewFileHasFullLengthAndTakesWritesFromSeveralThreads) {
  Folder folder;
  const std::string path = utf8(folder.path() / L"下载.temp");
  constexpr int kParts = 4;
  constexpr std::int64_t kPartSize = 256 * 1024 + 7;
  auto file = net::createNewFile(path, kParts * kPartSize);
  ASSERT_TRUE(file) << file.error().what;
  EXPECT_EQ(net::existingFileSize(path), kParts * kPartSize);

  // Each thread writes its part in small blocks, as the connections do.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int part = 0; part < kParts; ++part) {
    threads.emplace_back([&, part] {
      const std::string block(1000, static_cast<char>('a' + part));
      for (std::int64_t at = 0; at < kPartSize; at += 1000) {
        const std::size_t size = static_cast<std::size_t>(
            std::min<std::int64_t>(1000, kPartSize - at));
        if (!file->writeAt(block.data(), size, part * kPartSize + at))
          ++failures;
      }
    });
  }
  for (auto &thread : threads)
    thread.join();
  file->close();
  EXPECT_EQ(failures.load(), 0);
  const std::string content = readAll(folder.path() / L"下载.temp");
  ASSERT_EQ(content.size(), static_cast<std::size_t>(kParts * kPartSize));
  for (int part = 0; part < kParts; ++part) {
    SCOPED_TRACE(part);
    EXPECT_EQ(content.find_first_not_of(static_cast<char>('a' + part),
                                        static_cast<std::size_t>(part * kPartSize)),
              part + 1 < kParts ? static_cast<std::size_t>((part + 1) * kPartSize)
                                : std::string::npos);
  }
}

TEST(Win32EngineFiles, AnExistingFileIsNeverOpenedAgain) {
  Folder folder;
  const stdfs::path path = folder.path() / L"已有.temp";
  writeAll(path, "keep me");
  auto file = net::createNewFile(utf8(path), 100);
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().kind, download::ErrorKind::File);
  EXPECT_EQ(file.error().osError, ERROR_FILE_EXISTS);
  EXPECT_EQ(readAll(path), "keep me");
  EXPECT_EQ(net::existingFileSize(utf8(folder.path() / L"无.temp")), std::nullopt);
}

// A listening socket on a free loopback port.
class Listener {
public:
  Listener() {
    net::initialiseNetwork();
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(socket_, 4);
    int length = sizeof address;
    ::getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(); }
  void close() {
    if (socket_ != INVALID_SOCKET)
      ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  SOCKET accept() { return ::accept(socket_, nullptr, nullptr); }
  std::uint16_t port() const { return port_; }

private:
  SOCKET socket_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

TEST(Win32EngineSockets, SendsPeeksReceivesAndSeesTheEnd) {
  Listener listener;
  std::atomic<bool> stop{false};
  auto socket = net::connectTo("127.0.0.1", listener.port(), 10000, stop);
  ASSERT_TRUE(socket) << socket.error().what;
  const SOCKET peer = listener.accept();
  ASSERT_NE(peer, INVALID_SOCKET);

  // More than a socket buffer, so the sender must wait for the reader.
  const std::string request(4 * 1024 * 1024, 'r');
  std::string arrived;
  std::thread reader([&] {
    char buffer[65536];
    while (arrived.size() < request.size()) {
      const int n = ::recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0)
        break;
      arrived.append(buffer, static_cast<std::size_t>(n));
    }
    ::send(peer, "HTTP/1.1 200 OK\r\n", 17, 0);
    ::shutdown(peer, SD_SEND);
  });
  auto sent = net::sendAll(*socket, request, 10000, stop);
  reader.join();
  ASSERT_TRUE(sent) << sent.error().what;
  EXPECT_EQ(arrived.size(), request.size());

  char buffer[64];
  std::string peeked;
  auto n = net::receiveSome(*socket, buffer, 8, 10000, stop, net::ReceiveMode::Peek);
  ASSERT_TRUE(n) << n.error().what;
  peeked.assign(buffer, *n);
  std::string taken;
  for (int i = 0; i < 1000; ++i) {
    n = net::receiveSome(*socket, buffer, sizeof buffer, 10000, stop);
    ASSERT_TRUE(n) << n.error().what;
    if (*n == 0)
      break;
    taken.append(buffer, *n);
  }
  EXPECT_EQ(taken, "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(taken.substr(0, peeked.size()), peeked);
  ::closesocket(peer);
}

TEST(Win32EngineSockets, WaitsEndOnSilenceOrStop) {
  Listener listener;
  std::atomic<bool> running{false};
  auto socket = net::connectTo("127.0.0.1", listener.port(), 10000, running);
  ASSERT_TRUE(socket) << socket.error().what;
  const SOCKET peer = listener.accept();

  struct Case {
    const char *name;
    bool stopped;
    download::ErrorKind kind;
  };
  const Case cases[] = {
      {"silence", false, download::ErrorKind::Receive},
      {"stop", true, download::ErrorKind::Stopped},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> stop{c.stopped};
    char buffer[16];
    const std::int64_t start = net::monotonicMs();
    auto n = net::receiveSome(*socket, buffer, sizeof buffer, 200, stop);
    const std::int64_t took = net::monotonicMs() - start;
    ASSERT_FALSE(n);
    EXPECT_EQ(n.error().kind, c.kind);
    if (!c.stopped) {
      EXPECT_GE(took, 150);
    }
    EXPECT_LT(took, 20000);
  }
  ::closesocket(peer);
}

TEST(Win32EngineSockets, ConnectFailsOnAClosedPort) {
  std::uint16_t closedPort = 0;
  {
    Listener listener;
    closedPort = listener.port();
  }
  std::atomic<bool> stop{false};
  auto socket = net::connectTo("127.0.0.1", closedPort, 30000, stop);
  ASSERT_FALSE(socket);
  EXPECT_EQ(socket.error().kind, download::ErrorKind::Connect) << socket.error().what;
}

TEST(Win32EngineClock, NeverGoesBackAndSleepsAreCutByStop) {
  std::int64_t last = net::monotonicMs();
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t now = net::monotonicMs();
    ASSERT_GE(now, last);
    last = now;
  }
  std::atomic<bool> stop{true};
  EXPECT_FALSE(net::sleepUnlessStopped(60000, stop));
  stop = false;
  const std::int64_t start = net::monotonicMs();
  EXPECT_TRUE(net::sleepUnlessStopped(50, stop));
  EXPECT_GE(net::monotonicMs() - start, 40);
  EXPECT_EQ(net::pathStyle(), download::PathStyle::Windows);
  EXPECT_EQ(net::localTimeText().size(), 19u);
}

// --- The ZIP component's layer ----------------------------------------

TEST(Win32ArchiveFiles, WideOperationsKeepEveryName) {
  Folder folder;
  const stdfs::path dir = folder.path() / L"目录 ä";
  const stdfs::path file = dir / L"文件 ü.txt";
  namespace fs = archive::fs;
  ASSERT_TRUE(fs::createDirectory(utf8(dir)));
  EXPECT_FALSE(fs::createDirectory(utf8(dir))) << "made twice";
  writeAll(file, "old");
  writeAll(dir / L"新.txt", "new");

  struct Kind {
    stdfs::path path;
    fs::NodeKind kind;
  };
  for (const Kind &k : {Kind{dir, fs::NodeKind::Directory}, Kind{file, fs::NodeKind::File},
                        Kind{dir / L"无", fs::NodeKind::Missing}}) {
    SCOPED_TRACE(utf8(k.path));
    auto kind = fs::nodeKind(utf8(k.path));
    ASSERT_TRUE(kind);
    EXPECT_EQ(kind.value(), k.kind);
  }

  // Renaming replaces a file, and a read-only one is still removed.
  ASSERT_TRUE(fs::renamePath(utf8(dir / L"新.txt"), utf8(file)));
  EXPECT_EQ(readAll(file), "new");
  auto head = fs::readHead(utf8(file), 2);
  ASSERT_TRUE(head);
  EXPECT_EQ(head.value(), "ne");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(fs::removeFile(utf8(file)));
  EXPECT_FALSE(stdfs::exists(file));

  // A tree with a read-only file in it goes whole.
  stdfs::create_directories(dir / L"子" / L"孙");
  writeAll(dir / L"子" / L"孙" / L"只读.txt", "x");
  ::SetFileAttributesW((dir / L"子" / L"孙" / L"只读.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(fs::removeTree(utf8(dir)));
  EXPECT_FALSE(stdfs::exists(dir));
  EXPECT_TRUE(fs::removeTree(utf8(dir))) << "a missing tree is success";

  auto free = fs::freeSpace(utf8(folder.path()));
  ASSERT_TRUE(free);
  EXPECT_GT(free.value(), 0u);
}

TEST(Win32ArchiveFiles, AttributesAreMadeNormalAndPutBack) {
  Folder folder;
  const stdfs::path file = folder.path() / L"属性.dll";
  writeAll(file, "x");
  namespace fs = archive::fs;
  const DWORD cases[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                         FILE_ATTRIBUTE_SYSTEM,
                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN};
  for (const DWORD bits : cases) {
    SCOPED_TRACE(bits);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), bits));
    auto before = fs::readAttributes(utf8(file));
    ASSERT_TRUE(before);
    ASSERT_TRUE(fs::setNormalAttributes(utf8(file), before.value()));
    EXPECT_EQ(::GetFileAttributesW(file.c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              0u);
    ASSERT_TRUE(fs::writeAttributes(utf8(file), before.value()));
    EXPECT_EQ(::GetFileAttributesW(file.c_str()) & bits, bits);
  }
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32ArchiveFiles, AFileInUseIsNotDeletedButCanBeRenamed) {
  Folder folder;
  const stdfs::path file = folder.path() / L"用中.dll";
  writeAll(file, "loaded");
  const HANDLE held = holdOpen(file, FILE_SHARE_READ | FILE_SHARE_DELETE);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  auto removed = archive::fs::removeFile(utf8(file));
  EXPECT_FALSE(removed);
  EXPECT_TRUE(stdfs::exists(file)) << "the name must not linger as a pending delete";
  EXPECT_TRUE(archive::fs::renamePath(utf8(file), utf8(folder.path() / L"旁.dll")));
  ::CloseHandle(held);
  EXPECT_TRUE(archive::fs::removeFile(utf8(folder.path() / L"旁.dll")));
}

// A ZIP archive of stored entries with UTF-8 names; names ending in "/"
// are folders.
std::string storedZip(const std::vector<std::pair<std::string, std::string>> &entries) {
  auto le16 = [](std::string &out, unsigned v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
  };
  auto le32 = [&](std::string &out, std::uint32_t v) {
    le16(out, v & 0xffff);
    le16(out, v >> 16);
  };
  std::string body;
  std::string directory;
  for (const auto &[name, data] : entries) {
    const std::uint32_t crc = static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
    const std::uint32_t offset = static_cast<std::uint32_t>(body.size());
    const bool folder = name.ends_with('/');
    auto common = [&](std::string &out) {
      le16(out, 20);     // version needed
      le16(out, 0x800);  // UTF-8 names
      le16(out, 0);      // stored
      le16(out, 0);      // time
      le16(out, 0x21);   // 1980-01-01
      le32(out, crc);
      le32(out, static_cast<std::uint32_t>(data.size()));
      le32(out, static_cast<std::uint32_t>(data.size()));
      le16(out, static_cast<unsigned>(name.size()));
      le16(out, 0);      // extra
    };
    le32(body, 0x04034b50);
    common(body);
    body += name;
    body += data;
    le32(directory, 0x02014b50);
    le16(directory, 20); // made by MS-DOS
    common(directory);
    le16(directory, 0);  // comment
    le16(directory, 0);  // disk
    le16(directory, 0);  // internal attributes
    le32(directory, folder ? 0x10 : 0x20);
    le32(directory, offset);
    directory += name;
  }
  std::string zip = body + directory;
  le32(zip, 0x06054b50);
  le16(zip, 0);
  le16(zip, 0);
  le16(zip, static_cast<unsigned>(entries.size()));
  le16(zip, static_cast<unsigned>(entries.size()));
  le32(zip, static_cast<std::uint32_t>(directory.size()));
  le32(zip, static_cast<std::uint32_t>(body.size()));
  le16(zip, 0);
  return zip;
}

TEST(Win32Extract, UnpacksAnArchiveInAFolderOfAnyName) {
  Folder folder;
  const stdfs::path archivePath = folder.path() / L"更新.zip";
  writeAll(archivePath, storedZip({{"文档/", ""},
                                   {"文档/说明.txt", "第二版"},
                                   {"app.exe", "new program"}}));
  const stdfs::path target = folder.path() / L"应用";
  stdfs::create_directories(target);
  writeAll(target / L"app.exe", "old program");
  ::SetFileAttributesW((target / L"app.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(archive::extract(utf8(archivePath), utf8(target), {}), archive::kExtractDone);
  EXPECT_EQ(readAll(target / L"文档" / L"说明.txt"), "第二版");
  EXPECT_EQ(readAll(target / L"app.exe"), "new program");
  EXPECT_FALSE(stdfs::exists(target / L".update-staging"));
  EXPECT_FALSE(stdfs::exists(target / L".update-in-use"));
}

// Files that other programs hold open: with delete sharing (as a running
// program or a loaded library is held) the old copy is renamed aside and
// removed at the next start once free; without it nothing can take the
// file's place, and the whole update is taken back.
TEST(Win32Extract, FilesInUseAreRenamedAsideOrTheUpdateIsTakenBack) {
  struct Case {
    const char *name;
    DWORD share;
    int status;
  };
  const Case cases[] = {
      {"held with delete sharing", FILE_SHARE_READ | FILE_SHARE_DELETE, archive::kExtractDone},
      {"held without delete sharing", FILE_SHARE_READ, archive::kExtractFailed},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder;
    const stdfs::path archivePath = folder.path() / L"更新.zip";
    // The file in use comes second, so a failure has a replaced file to
    // take back.
    writeAll(archivePath, storedZip({{"a.txt", "new a"},
                                     {"lib.dll", "new library"},
                                     {"z.txt", "new z"}}));
    const stdfs::path target = folder.path() / L"应用";
    stdfs::create_directories(target);
    writeAll(target / L"lib.dll", "old library");
    writeAll(target / L"a.txt", "old a");
    const HANDLE held = holdOpen(target / L"lib.dll", c.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_EQ(archive::extract(utf8(archivePath), utf8(target), {}), c.status);
    EXPECT_FALSE(stdfs::exists(target / L".update-staging"));
    if (c.status == archive::kExtractDone) {
      EXPECT_EQ(readAll(target / L"lib.dll"), "new library");
      EXPECT_EQ(readAll(target / L"z.txt"), "new z");
      // The holder still reads its old copy, now in the in-use folder.
      char buffer[32];
      DWORD got = 0;
      ASSERT_TRUE(::ReadFile(held, buffer, sizeof buffer, &got, nullptr));
      EXPECT_EQ(std::string(buffer, got), "old library");
      ASSERT_TRUE(stdfs::is_directory(target / L".update-in-use"));
      EXPECT_EQ(std::distance(stdfs::directory_iterator(target / L".update-in-use"),
                              stdfs::directory_iterator()),
                1);
      // Still in use: the copy stays for the next time.
      archive::removeInUseLeftovers(utf8(target));
      EXPECT_TRUE(stdfs::exists(target / L".update-in-use"));
      ::CloseHandle(held);
      archive::removeInUseLeftovers(utf8(target));
      EXPECT_FALSE(stdfs::exists(target / L".update-in-use"));
    } else {
      ::CloseHandle(held);
      EXPECT_EQ(readAll(target / L"lib.dll"), "old library");
      EXPECT_EQ(readAll(target / L"a.txt"), "old a");
      EXPECT_FALSE(stdfs::exists(target / L"z.txt"));
      EXPECT_FALSE(stdfs::exists(target / L".update-in-use"));
    }
  }
}

} // namespace
