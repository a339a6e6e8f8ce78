// Message boxes on the terminal: where each kind of box is printed and how questions are answered.
#include "cli/term/dialogs.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace zvk::cli {
namespace {

TEST(cliDialogs, BoxesArePrintedAsCaptionAndTextOnTheirStream) {
  std::ostringstream out, err;
  CliDialogs dialogs(out, err, false, nullptr);
  EXPECT_EQ(dialogs.MessageBox("Information", "Done", MsgIcon::Information, MsgButtons::Ok),
            MsgResult::Ok);
  dialogs.FailureBox("Device not found", "Please check device whether in AP mode!",
                     MsgIcon::Warning);
  // A failure goes to standard error by what it says, also without an icon (the Modbus input
  // boxes); a report goes to standard output whatever its icon.
  dialogs.FailureBox("Modbus port input Error", "Port already used!", MsgIcon::None);
  dialogs.MessageBox("Reboot to take effect", "Reboot to take effect", MsgIcon::Warning,
                     MsgButtons::Ok);  // its caption is its text: shown once
  dialogs.ErrorBox("'x' is not a valid integer value");
  EXPECT_EQ(out.str(), "Information\nDone\nReboot to take effect\n");
  EXPECT_EQ(err.str(),
            "Device not found\nPlease check device whether in AP mode!\n"
            "Modbus port input Error\nPort already used!\n"
            "Error\n'x' is not a valid integer value\n");
  EXPECT_EQ(dialogs.failures(), (std::vector<std::string>{"Please check device whether in AP mode!",
                                                          "Port already used!"}));
  EXPECT_EQ(dialogs.errors(), std::vector<std::string>{"'x' is not a valid integer value"});
}

TEST(cliDialogs, QuestionsAreAnsweredByYesOrOnTheTerminal) {
  struct Case {
    const char* name;
    bool yes;
    bool terminal;
    std::optional<std::string> typed;  // nullopt: the terminal input ended
    MsgResult answer;
    bool unanswered;
    int declined;
  };
  const Case cases[] = {
      {"--yes", true, false, std::nullopt, MsgResult::Yes, false, 0},
      {"typed y", false, true, "y", MsgResult::Yes, false, 0},
      {"typed YES with spaces", false, true, " YES \r", MsgResult::Yes, false, 0},
      {"typed n", false, true, "n", MsgResult::No, false, 1},
      {"just Enter", false, true, "", MsgResult::No, false, 1},
      {"input ended", false, true, std::nullopt, MsgResult::No, false, 1},
      {"no terminal", false, false, std::nullopt, MsgResult::No, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out, err;
    int asked = 0;
    AnswerReader reader;
    if (c.terminal)
      reader = [&] {
        ++asked;
        return c.typed;
      };
    CliDialogs dialogs(out, err, c.yes, reader);
    EXPECT_EQ(
        dialogs.MessageBox("Confirm", "Write the settings?", MsgIcon::Question, MsgButtons::YesNo),
        c.answer);
    EXPECT_EQ(dialogs.unanswered_question(), c.unanswered);
    EXPECT_EQ(dialogs.declined(), c.declined);
    EXPECT_EQ(asked, c.terminal && !c.yes ? 1 : 0);
    EXPECT_EQ(out.str().rfind("Confirm\nWrite the settings?\n", 0), 0u) << out.str();
    EXPECT_EQ(err.str(), "");
  }
}

TEST(cliDialogs, TheEndOfInputAtAQuestionIsSaidAsNo) {
  std::ostringstream out, err;
  CliDialogs dialogs(out, err, false, [] { return std::optional<std::string>(); });
  dialogs.MessageBox("Confirm", "Write the settings?", MsgIcon::Question, MsgButtons::YesNo);
  EXPECT_EQ(out.str(), "Confirm\nWrite the settings?\n[y/N] end of input: No\n");
}

}  // namespace
}  // namespace zvk::cli
