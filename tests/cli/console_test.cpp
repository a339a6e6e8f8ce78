// The Windows console while zvk runs: UTF-8 shown as the characters it encodes, and only on a
// console; the console's own code page back afterwards.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>
#include <string>

#include "cli/term/terminal.h"

namespace zvk::cli {
namespace {

constexpr UINT kOemUs = 437;

// Standard output and error led to the test's console, or to a file. Headless wine gives a
// program no console at all (scripts/test-wine checks zvk.exe on a terminal instead).
class cliConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_out_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    saved_err_ = ::GetStdHandle(STD_ERROR_HANDLE);
    screen_ = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (screen_ == INVALID_HANDLE_VALUE || !::GetConsoleMode(screen_, &mode))
      GTEST_SKIP() << "no console here";
    saved_page_ = ::GetConsoleOutputCP();
    ASSERT_TRUE(::SetConsoleOutputCP(kOemUs));
  }
  void TearDown() override {
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved_out_);
    ::SetStdHandle(STD_ERROR_HANDLE, saved_err_);
    if (saved_page_ != 0) ::SetConsoleOutputCP(saved_page_);
    if (screen_ != INVALID_HANDLE_VALUE) ::CloseHandle(screen_);
  }

  COORD Cursor() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(screen_, &info);
    return info.dwCursorPosition;
  }
  // What the console shows from `at` on, for `length` characters.
  std::wstring Shown(COORD at, DWORD length) {
    std::wstring text(length, L' ');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen_, text.data(), length, at, &read);
    text.resize(read);
    return text;
  }

  HANDLE screen_ = INVALID_HANDLE_VALUE;
  HANDLE saved_out_ = nullptr;
  HANDLE saved_err_ = nullptr;
  UINT saved_page_ = 0;
};

TEST_F(cliConsole, TextOnAConsoleIsShownAsUtf8WhileTheProgramRuns) {
  ::SetStdHandle(STD_OUTPUT_HANDLE, screen_);
  const std::wstring expected = L"27.6\u2103 76.8\u2109 Caf\u00E9";
  COORD at{};
  {
    const Utf8ConsoleOutput console;
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    at = Cursor();
    std::cout << "27.6\u2103 76.8\u2109 Caf\u00E9" << std::flush;
  }
  EXPECT_EQ(Shown(at, static_cast<DWORD>(expected.size())), expected);
  EXPECT_EQ(::GetConsoleOutputCP(), kOemUs);
  std::cout << '\n' << std::flush;
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
