// A status line that a long run keeps rewriting in place on a terminal, and the width it has.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace zvk::cli {

// The columns of the terminal on standard error; 0 when standard error is no terminal.
int StderrTerminalColumns();

class LiveStatus {
 public:
  // `columns` 0: no terminal, nothing is shown.
  LiveStatus(std::ostream& out, int columns) : out_(out), columns_(columns) {}
  ~LiveStatus() { Clear(); }
  LiveStatus(const LiveStatus&) = delete;
  LiveStatus& operator=(const LiveStatus&) = delete;

  // Replaces the line, cut to the terminal's width so it never wraps.
  void Show(const std::string& text);
  // Removes the line, so ordinary lines can be written.
  void Clear();

 private:
  std::ostream& out_;
  int columns_;
  std::size_t shown_ = 0;  // columns of the text on the line now
};

// `text` cut to at most `columns` characters (UTF-8 sequences are kept whole).
std::string FitColumns(const std::string& text, std::size_t columns, std::size_t* used = nullptr);

}  // namespace zvk::cli
