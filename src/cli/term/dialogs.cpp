#include "cli/term/dialogs.h"

#include <algorithm>
#include <cctype>

#include "cli/term/stop_request.h"

namespace zvk::cli {

namespace {

bool IsYes(std::string answer) {
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  answer.erase(0, answer.find_first_not_of(" \t"));
  answer.erase(answer.find_last_not_of(" \t\r") + 1);
  return answer == "y" || answer == "yes";
}

}  // namespace

MsgResult CliDialogs::MessageBox(const std::string& caption, const std::string& text, MsgIcon,
                                 MsgButtons buttons) {
  last_box_ = {caption, text};
  std::ostream& to = failure_ ? err_ : out_;
  // A box whose caption is its text (the firmware results) shows it once.
  to << caption << '\n';
  if (text != caption) to << text << '\n';
  to << std::flush;
  last_text_ = text;
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  if (yes_) return MsgResult::Yes;
  std::optional<std::string> answer;
  if (read_answer_ && StopRequest::Deferring() && StopRequest::Get().requested()) {
    // Stopped before the question: nothing of what it asks about is sent.
    out_ << "stopped: No\n" << std::flush;
    ++declined_;
    return MsgResult::No;
  }
  if (read_answer_) {
    out_ << "[y/N] " << std::flush;
    // Nothing has been sent for the question yet: Ctrl+C at it ends the program as it always did.
    const StopAtOnce at_once;
    answer = read_answer_();
  }
  if (!read_answer_) {
    unanswered_question_ = true;
    return MsgResult::No;
  }
  if (!answer) {
    // The person ended the input (Ctrl-D, Ctrl-Z) instead of answering: a No like any other,
    // said on the line the question left open.
    out_ << "end of input: No\n" << std::flush;
    ++declined_;
    return MsgResult::No;
  }
  if (IsYes(*answer)) return MsgResult::Yes;
  ++declined_;
  return MsgResult::No;
}

void CliDialogs::FailureBox(const std::string& caption, const std::string& text, MsgIcon icon) {
  failures_.push_back(text);
  failure_ = true;
  MessageBox(caption, text, icon, MsgButtons::Ok);
  failure_ = false;
}

void CliDialogs::ErrorBox(const std::string& text) {
  errors_.push_back(text);
  if (capture_errors) {
    capture_errors->push_back(text);
    return;
  }
  err_ << "Error\n" << text << '\n' << std::flush;
}

}  // namespace zvk::cli
