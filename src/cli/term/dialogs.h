// Message boxes on a terminal: each box is printed as its caption and its text, on standard
// output, or on standard error for a box that tells of a failure; questions are answered by --yes
// or asked on the terminal.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "operations/module_session.h"

namespace zvk::cli {

// Reads one answer line from the terminal; nullopt when there is none (no terminal, end of input).
using AnswerReader = std::function<std::optional<std::string>()>;

class CliDialogs final : public ops::SessionDialogs {
 public:
  CliDialogs(std::ostream& out, std::ostream& err, bool yes, AnswerReader read_answer)
      : out_(out), err_(err), yes_(yes), read_answer_(std::move(read_answer)) {}

  MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                       MsgButtons buttons) override;
  void FailureBox(const std::string& caption, const std::string& text, MsgIcon icon) override;
  void ErrorBox(const std::string& text) override;
  // There is no file dialog on a command line: a command that needs a file names it itself.
  std::optional<std::string> OpenFile(const std::string&) override { return file_argument; }

  std::optional<std::string> file_argument;
  // While set, error boxes are collected here instead of printed (the caller reports them).
  std::vector<std::string>* capture_errors = nullptr;
  void AnswerFileDialog(const std::string& path) override { file_argument = path; }
  void CaptureErrors(std::vector<std::string>* into) override { capture_errors = into; }

  // The last message box shown (not error boxes): its caption and text.
  const std::pair<std::string, std::string>& last_box() const override { return last_box_; }
  // Texts of the failure boxes shown so far.
  const std::vector<std::string>& failures() const override { return failures_; }
  // Texts of the error boxes shown so far.
  const std::vector<std::string>& errors() const override { return errors_; }
  // A question came with neither --yes nor a terminal to ask on; it was answered No.
  bool unanswered_question() const { return unanswered_question_; }
  // How many questions were answered No on the terminal (the end of its input counts as No).
  int declined() const override { return declined_; }
  // The text of the last box shown.
  const std::string& last_text() const { return last_text_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool yes_;
  AnswerReader read_answer_;
  std::vector<std::string> errors_;
  std::vector<std::string> failures_;
  std::pair<std::string, std::string> last_box_;
  bool unanswered_question_ = false;
  int declined_ = 0;
  std::string last_text_;
  bool failure_ = false;  // the box being shown tells of a failure
};

}  // namespace zvk::cli
