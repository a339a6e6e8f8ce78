#include "cli/term/standard_output.h"

#include <cerrno>
#include <iostream>
#include <system_error>

#include "util/file_writer.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zvk::cli {

namespace {

// What is held before it goes out when no line end or flush sends it sooner.
constexpr std::size_t kHeldBytes = 64 * 1024;

}  // namespace

DescriptorOutput::DescriptorOutput(int fd, bool line_buffered)
    : fd_(fd), line_buffered_(line_buffered) {}

DescriptorOutput::~DescriptorOutput() {
  std::lock_guard lock(mutex_);
  Drain();
}

int DescriptorOutput::write_error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

bool DescriptorOutput::Drain() {
  std::size_t done = 0;
  while (error_ == 0 && done < pending_.size()) {
    const long n = WriteSome(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error_ = n < 0 ? errno : ENOSPC;
    else
      done += static_cast<std::size_t>(n);
  }
  pending_.clear();
  return error_ == 0;
}

std::streamsize DescriptorOutput::xsputn(const char* s, std::streamsize n) {
  std::lock_guard lock(mutex_);
  if (error_ != 0) return 0;
  const std::string_view text(s, static_cast<std::size_t>(n));
  pending_.append(text);
  const bool line_end = line_buffered_ && text.find('\n') != std::string_view::npos;
  if ((line_end || pending_.size() >= kHeldBytes) && !Drain()) return 0;
  return n;
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

int DescriptorOutput::sync() {
  std::lock_guard lock(mutex_);
  return Drain() ? 0 : -1;
}

StandardOutput::StandardOutput() {
#ifndef _WIN32
  std::cout.flush();
  buffer_.emplace(STDOUT_FILENO, ::isatty(STDOUT_FILENO) == 1);
  saved_ = std::cout.rdbuf(&*buffer_);
#endif
}

StandardOutput::~StandardOutput() {
  if (!saved_) return;
  std::cout.flush();
  std::cout.rdbuf(saved_);
}

std::optional<std::string> StandardOutputFailure(std::ostream& out) {
  out.flush();
  if (out.good()) return std::nullopt;
  const auto* source = dynamic_cast<const WriteErrorSource*>(out.rdbuf());
  const int error = source ? source->write_error() : 0;
  return "cannot write standard output" +
         (error != 0 ? ": " + std::generic_category().message(error) : std::string());
}

}  // namespace zvk::cli
