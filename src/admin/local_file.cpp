#include "admin/local_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "util/file_path.h"

namespace zvk {

LocalFileCheck CheckLocalFile(const std::string& path) {
  namespace fs = std::filesystem;
  LocalFileCheck check;
  fs::path file;
  try {
    file = PathFromUtf8(path);
  } catch (const std::exception& e) {  // a name that is no UTF-8 has no wide form on Windows
    check.error = e.what();
    return check;
  }
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  // Not every library reports a missing file as an error.
  if (status.type() == fs::file_type::not_found) {
    check.error = std::make_error_code(std::errc::no_such_file_or_directory).message();
    return check;
  }
  if (ec) {
    check.error = ec.message();
    return check;
  }
  switch (status.type()) {
    case fs::file_type::regular:
      break;
    case fs::file_type::directory:
      check.error = "it is a folder";
      return check;
    case fs::file_type::fifo:
      check.error = "it is a pipe, not a plain file";
      return check;
    case fs::file_type::character:
    case fs::file_type::block:
      check.error = "it is a device, not a plain file";
      return check;
    default:
      check.error = "not a plain file";
      return check;
  }
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) {
    check.error = ec.message();
    return check;
  }
  check.length = static_cast<std::size_t>(std::min<std::uintmax_t>(size, SIZE_MAX));
  return check;
}

}  // namespace zvk
