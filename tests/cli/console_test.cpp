// The Windows console while zvk runs: UTF-8 shown as the characters it encodes, and only on a
// console; the console's own code page back afterwards.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "cli/terminal.h"

namespace zvk::cli {
namespace {

constexpr UINT kOemUs = 437;

// A console of the test's own, standard output and error leading to it or to a file.
class cliConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_out_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    saved_err_ = ::GetStdHandle(STD_ERROR_HANDLE);
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    screen_ = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetConsoleOutputCP(kOemUs));
  }
  void TearDown() override {
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved_out_);
    ::SetStdHandle(STD_ERROR_HANDLE, saved_err_);
    if (screen_ != INVALID_HANDLE_VALUE) ::CloseHandle(screen_);
    ::FreeConsole();
  }

  // What the console's first row shows.
  std::wstring FirstRow() {
    wchar_t row[40] = {};
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen_, row, 40, COORD{0, 0}, &read);
    std::wstring text(row, read);
    text.erase(text.find_last_not_of(L' ') + 1);
    return text;
  }

  HANDLE screen_ = INVALID_HANDLE_VALUE;
  HANDLE saved_out_ = nullptr;
  HANDLE saved_err_ = nullptr;
};

TEST_F(cliConsole, TextOnAConsoleIsShownAsUtf8WhileTheProgramRuns) {
  ::SetStdHandle(STD_OUTPUT_HANDLE, screen_);
  {
    const Utf8ConsoleOutput console;
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    const std::string text = "27.6\u2103 76.8\u2109 Caf\u00E9";
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(screen_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(FirstRow(), L"27.6\u2103 76.8\u2109 Caf\u00E9");
  }
  EXPECT_EQ(::GetConsoleOutputCP(), kOemUs);
}

TEST_F(cliConsole, RedirectedOutputLeavesTheConsoleAlone) {
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"zvk-console-test.txt";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, file);
  ::SetStdHandle(STD_ERROR_HANDLE, file);
  {
    const Utf8ConsoleOutput console;
    EXPECT_EQ(::GetConsoleOutputCP(), kOemUs);
  }
  EXPECT_EQ(::GetConsoleOutputCP(), kOemUs);
  ::CloseHandle(file);
}

}  // namespace
}  // namespace zvk::cli

#endif  // _WIN32
