#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdexcept>

#include "support/child_process.h"

namespace zvk::test {

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// One argument quoted so that the C runtime's parser gives it back unchanged.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE out = nullptr;
  std::optional<int> exit_code;
};

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& args, ChildStreams streams)
    : impl_(std::make_unique<Impl>()) {
  std::wstring line;
  AppendQuoted(line, program.wstring());
  for (const std::string& arg : args) {
    line += L' ';
    AppendQuoted(line, Wide(arg));
  }

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  // NUL, as `<NUL` gives it: a character device, and no console.
  HANDLE null_input = INVALID_HANDLE_VALUE;
  if (streams.null_input)
    null_input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  if (streams.null_input && null_input == INVALID_HANDLE_VALUE) {
    ::CloseHandle(read_end);
    ::CloseHandle(write_end);
    throw std::runtime_error("cannot open NUL");
  }
  HANDLE input = streams.null_input ? null_input : ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE error = streams.errors_in_output ? write_end : ::GetStdHandle(STD_ERROR_HANDLE);

  // Only the pipe is handed down, not every inheritable handle the test process holds.
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  HANDLE handed_down[2] = {write_end, null_input};
  const bool listed =
      ::InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
      ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed_down,
                                  (streams.null_input ? 2 : 1) * sizeof(HANDLE), nullptr, nullptr);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = write_end;
  startup.StartupInfo.hStdError = error;
  startup.StartupInfo.hStdInput = input;
  if (listed) startup.lpAttributeList = attributes;
  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_NEW_PROCESS_GROUP | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const BOOL started = ::CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr,
                                        TRUE, flags, nullptr, nullptr, &startup.StartupInfo, &info);
  if (listed) ::DeleteProcThreadAttributeList(attributes);
  ::CloseHandle(write_end);
  if (null_input != INVALID_HANDLE_VALUE) ::CloseHandle(null_input);
  if (!started) {
    ::CloseHandle(read_end);
    throw std::runtime_error("cannot start " + program.string() + " (error " +
                             std::to_string(::GetLastError()) + ")");
  }
  ::CloseHandle(info.hThread);
  impl_->process = info.hProcess;
  impl_->id = info.dwProcessId;
  impl_->out = read_end;
}

ChildProcess::~ChildProcess() {
  if (!impl_->exit_code) {
    ::TerminateProcess(impl_->process, 1);
    Wait();
  }
  ::CloseHandle(impl_->out);
  ::CloseHandle(impl_->process);
}

bool ChildProcess::Fill() {
  if (at_end_) return false;
  char chunk[4096];
  DWORD n = 0;
  if (!::ReadFile(impl_->out, chunk, sizeof chunk, &n, nullptr) || n == 0) {
    at_end_ = true;  // ERROR_BROKEN_PIPE: the child closed its end
    return false;
  }
  buffered_.append(chunk, n);
  return true;
}

bool ChildProcess::RequestStop() {
  return !impl_->exit_code && ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl_->id);
}

int ChildProcess::Wait() {
  if (impl_->exit_code) return *impl_->exit_code;
  ::WaitForSingleObject(impl_->process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(impl_->process, &code);
  impl_->exit_code = static_cast<int>(code);
  return *impl_->exit_code;
}

}  // namespace zvk::test

#endif  // _WIN32
