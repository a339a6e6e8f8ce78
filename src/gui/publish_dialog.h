// The dialog of "Publish…", shared by the trend window (the watched module) and the Modules
// window (every listed module through one gateway): the broker and the publishing settings,
// checked by the rules `zvk publish` has (publish/settings), named as the dialog names them.
#pragma once

#include <optional>
#include <string>

#include "publish/settings.h"

class QWidget;

namespace zvk::gui {

// What the user chose in the publish dialog.
struct PublishChoice {
  std::string url;  // as typed, for the status line
  publish::PublishSettings settings;
};

// Broker URL, topic prefix, user name and password, CA file (typed or browsed for), the polls
// kept while the broker is away, discovery; filled with `last` (whose password is not used).
// Refuses a broker URL it cannot use, saying why.
std::optional<PublishChoice> AskPublishChoice(QWidget* parent,
                                              const std::optional<PublishChoice>& last = {});

}  // namespace zvk::gui
