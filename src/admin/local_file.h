// The one check of a file on this computer before its bytes go to the module (file writes and
// firmware images): only a plain file has a length to announce. A device would be read as
// empty or endless, a FIFO would hang the open, a folder has no content.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zvk {

struct LocalFileCheck {
  std::size_t length = 0;            // the file's length when it is a plain file
  std::optional<std::string> error;  // why it cannot be sent: "it is a folder", ...
};

// Looks at the file without opening it, so nothing blocks.
LocalFileCheck CheckLocalFile(const std::string& path);

}  // namespace zvk
