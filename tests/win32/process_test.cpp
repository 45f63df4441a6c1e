// The Windows process services, checked on copies of this test program
// started with command lines and folders of our choosing.
#include "platform/win32/text.h"
#include "process/process.h"
#include "process/run_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::win32::toUtf8;

constexpr const wchar_t *kModeVariable = L"UPDATER_CHILD_MODE";
constexpr const wchar_t *kOutputVariable = L"UPDATER_CHILD_OUTPUT";
// What makes a copy of this program run the child below, and nothing else.
constexpr const wchar_t *kChildSwitches =
    L" --gtest_also_run_disabled_tests --gtest_filter=Win32ProcessChild.DISABLED_Run";

std::wstring variable(const wchar_t *name) {
  wchar_t value[1024];
  const DWORD n = ::GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

fs::path thisProgram() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), 32768));
  return path;
}

// A folder of its own under the system's temporary folder, removed at the
// end.
struct TempFolder {
  fs::path path;
  TempFolder() {
    wchar_t base[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, base);
    path = fs::path(base) /
           (L"updater-test-" + std::to_wstring(::GetCurrentProcessId()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

struct Child {
  DWORD exitCode = ~0u;
  bool started = false;
};

// Starts `program` with `commandLine`, the child mode and the report file
// `output` set, its standard output going to `output` + ".stdout", and waits
// at most a minute for it.
Child runChild(const fs::path &program, std::wstring commandLine,
               const std::wstring &mode, const fs::path &output) {
  ::SetEnvironmentVariableW(kModeVariable, mode.c_str());
  ::SetEnvironmentVariableW(kOutputVariable, output.c_str());
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const fs::path standardOutput = output.wstring() + L".stdout";
  HANDLE out = ::CreateFileW(standardOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  Child child;
  child.started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr,
                                   nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                   &info) != 0;
  ::CloseHandle(out);
  ::SetEnvironmentVariableW(kModeVariable, nullptr);
  ::SetEnvironmentVariableW(kOutputVariable, nullptr);
  if (!child.started)
    return child;
  if (::WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0)
    ::TerminateProcess(info.hProcess, 99);
  ::GetExitCodeProcess(info.hProcess, &child.exitCode);
  ::CloseHandle(info.hProcess);
  ::CloseHandle(info.hThread);
  return child;
}

std::vector<std::string> lines(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> result;
  for (std::string line; std::getline(in, line);)
    result.push_back(line);
  return result;
}

// What the child does when the tests below start a copy of this program;
// disabled, so that an ordinary run leaves it out.
TEST(Win32ProcessChild, DISABLED_Run) {
  const std::wstring mode = variable(kModeVariable);
  if (mode == L"terminate") {
    // Left in the buffer: terminateProcess must flush it.
    std::fputs("flushed", stdout);
    process::terminateProcess(7);
  }
  // "report": the arguments as the program sees them, then its paths.
  process::captureArguments(0, nullptr);
  std::ofstream out(fs::path(variable(kOutputVariable)), std::ios::binary);
  for (const std::string &argument : process::commandLineArguments())
    out << "arg:" << argument << "\n";
  out << "exe:" << process::executablePath() << "\n";
  out << "dir:" << process::runDirectory() << "\n";
}

TEST(Win32Process, ArgumentsComeFromTheWideCommandLine) {
  TempFolder temp;
  struct Case {
    const wchar_t *tail; // after the program's name
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {L" -g", {"-g"}},
      {L" \"\u8F6F\u4EF6 \u66F4\u65B0\"\t-g", {"软件 更新", "-g"}},
      {L" \"\" -g \u00E9\u00E8", {"", "-g", "éè"}},
      // A quote ends a plain argument and starts a quoted one; a backslash
      // is an ordinary character.
      {L" a\"b c\"\\d\\", {"a", "b c", "\\d\\"}},
  };
  const fs::path program = thisProgram();
  for (const auto &c : cases) {
    SCOPED_TRACE(toUtf8(c.tail));
    // The filter that makes the copy run the child goes last, so that
    // the arguments under test come first.
    std::wstring line =
        L"\"" + program.wstring() + L"\"" + c.tail + kChildSwitches;
    const fs::path output = temp.path / L"report.txt";
    const Child child = runChild(program, line, L"report", output);
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 0u);
    std::vector<std::string> expected;
    for (const std::string &argument : c.arguments)
      expected.push_back("arg:" + argument);
    expected.push_back("arg:--gtest_also_run_disabled_tests");
    expected.push_back("arg:--gtest_filter=Win32ProcessChild.DISABLED_Run");
    std::vector<std::string> got = lines(output);
    got.resize(std::min(got.size(), expected.size()));
    EXPECT_EQ(got, expected);
  }
}

TEST(Win32Process, RunDirectoryOfAProgramInAnyFolder) {
  TempFolder temp;
  // Wine starts no program from a path longer than MAX_PATH, so the long
  // paths that executablePath() makes room for are not among these.
  const fs::path folders[] = {
      temp.path / L"plain",
      temp.path / L"\u7A0B\u5E8F \u6587\u4EF6\u5939", // 程序 文件夹
      temp.path / L"a;b,c \u00E9 [1]",
  };
  for (const fs::path &folder : folders) {
    SCOPED_TRACE(toUtf8(folder.wstring()));
    fs::create_directories(folder);
    const fs::path program = folder / L"updater.exe";
    fs::copy_file(thisProgram(), program);
    const fs::path output = temp.path / L"report.txt";
    const Child child =
        runChild(program, std::wstring(L"updater.exe") + kChildSwitches,
                 L"report", output);
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 0u);
    const std::vector<std::string> got = lines(output);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[2], "exe:" + toUtf8(program.wstring()));
    EXPECT_EQ(got[3], "dir:" + toUtf8(folder.wstring()));
  }
}

TEST(Win32Process, TerminateFlushesAndEndsWithTheCode) {
  TempFolder temp;
  const fs::path output = temp.path / L"out.txt";
  const Child child = runChild(
      thisProgram(), std::wstring(L"child") + kChildSwitches, L"terminate", output);
  ASSERT_TRUE(child.started);
  EXPECT_EQ(child.exitCode, 7u);
  std::ifstream in(fs::path(output.wstring() + L".stdout"), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(text.find("flushed"), std::string::npos) << text;
}

} // namespace
