#include "engine/rotation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "record/timestamp.h"
#include "util/file_path.h"
#include "util/file_writer.h"

#if ZVK_GZIP
#include <zlib.h>
#endif

namespace zvk::engine {

namespace fs = std::filesystem;

namespace {

// A period seen again gets at most this many names ("-2" to "-999").
constexpr unsigned kMostRepeats = 999;
constexpr std::size_t kLongestCounter = 18;  // digits of a counter that fits 64 bits
constexpr std::size_t kReadBlock = 1 << 16;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "2026-12-11"
bool IsDate(std::string_view text) {
  return text.size() == 10 && AllDigits(text.substr(0, 4)) && text[4] == '-' &&
         AllDigits(text.substr(5, 2)) && text[7] == '-' && AllDigits(text.substr(8, 2));
}

std::tm LocalTime(TimePoint time) {
  return BrokenDownLocal(std::chrono::system_clock::to_time_t(time));
}

std::string PaddedCounter(std::uint64_t n) {
  std::string text = std::to_string(n);
  return std::string(20 - text.size(), '0') + text;
}

#if ZVK_GZIP
// The whole file compressed in the gzip format; the input is read a block at a time.
std::string Compressed(const fs::path& path) {
  std::FILE* in = OpenFile(path, "rb");
  if (!in) throw FileWriteError("cannot read \"" + PathToUtf8(path) + "\"", errno);
  z_stream z{};
  // 15 bits of window, +16: a gzip header and trailer rather than zlib's.
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::fclose(in);
    throw FileWriteError("cannot compress \"" + PathToUtf8(path) + "\"");
  }
  std::string out;
  std::vector<unsigned char> block(kReadBlock);
  int flush = Z_NO_FLUSH;
  int status = Z_OK;
  while (status == Z_OK) {
    if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
      const std::size_t n = std::fread(block.data(), 1, block.size(), in);
      if (n < block.size()) flush = std::ferror(in) ? -1 : Z_FINISH;
      if (flush < 0) break;
      z.next_in = block.data();
      z.avail_in = static_cast<uInt>(n);
    }
    const std::size_t before = out.size();
    out.resize(before + kReadBlock);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + before);
    z.avail_out = static_cast<uInt>(kReadBlock);
    status = deflate(&z, flush);
    out.resize(before + kReadBlock - z.avail_out);
    if (status == Z_BUF_ERROR) status = Z_OK;  // no progress this turn: more input comes
  }
  deflateEnd(&z);
  std::fclose(in);
  if (status != Z_STREAM_END) throw FileWriteError("cannot compress \"" + PathToUtf8(path) + "\"");
  return out;
}
#endif

}  // namespace

std::optional<Rotation> ParseRotation(const std::string& text) {
  Rotation rotation;
  if (text == "daily") {
    rotation.every = Rotation::Every::Day;
    return rotation;
  }
  if (text == "hourly") {
    rotation.every = Rotation::Every::Hour;
    return rotation;
  }
  std::string number = text;
  std::uint64_t factor = 1;
  if (!number.empty()) {
    switch (std::toupper(static_cast<unsigned char>(number.back()))) {
      case 'K':
        factor = 1ULL << 10;
        break;
      case 'M':
        factor = 1ULL << 20;
        break;
      case 'G':
        factor = 1ULL << 30;
        break;
      default:
        break;
    }
    if (factor != 1) number.pop_back();
  }
  if (!AllDigits(number)) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || value == 0 || value > UINT64_MAX / factor) return std::nullopt;
  rotation.every = Rotation::Every::Size;
  rotation.size = value * factor;
  return rotation;
}

bool CanCompress() {
  return ZVK_GZIP != 0;
}

RotatedFiles::RotatedFiles(fs::path file, Rotation rotation)
    : file_(std::move(file)), rotation_(rotation) {}

std::string RotatedFiles::PeriodOf(TimePoint time) const {
  if (rotation_.every != Rotation::Every::Day && rotation_.every != Rotation::Every::Hour)
    return "";
  const std::tm t = LocalTime(time);
  char text[32];
  std::strftime(text, sizeof text,
                rotation_.every == Rotation::Every::Day ? "%Y-%m-%d" : "%Y-%m-%dT%H", &t);
  return text;
}

fs::path RotatedFiles::Target() const {
  return WriteTargetOf(file_);
}

fs::path RotatedFiles::NameFor(const std::string& middle) const {
  const fs::path target = Target();
  return target.parent_path() /
         PathFromUtf8(PathToUtf8(target.stem()) + "." + middle + PathToUtf8(target.extension()));
}

std::optional<RotatedFiles::Name> RotatedFiles::Parse(const fs::path& entry) const {
  const fs::path target = Target();
  const std::string prefix = PathToUtf8(target.stem()) + ".";
  const std::string extension = PathToUtf8(target.extension());
  std::string name = PathToUtf8(entry.filename());
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) {
    const std::optional<Name> plain =
        Parse(entry.parent_path() / PathFromUtf8(name.substr(0, name.size() - 3)));
    if (plain) return Name{plain->key, plain->repeat, entry};
  }
  if (name.size() <= prefix.size() + extension.size() ||
      name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
    return std::nullopt;
  std::string_view middle(name);
  middle = middle.substr(prefix.size(), middle.size() - prefix.size() - extension.size());

  if (rotation_.every == Rotation::Every::Size) {
    if (!AllDigits(middle) || middle.size() > kLongestCounter) return std::nullopt;
    std::uint64_t n = 0;
    std::from_chars(middle.data(), middle.data() + middle.size(), n);
    return Name{PaddedCounter(n), 0, entry};
  }
  const std::size_t length = rotation_.every == Rotation::Every::Day ? 10 : 13;
  if (middle.size() < length || !IsDate(middle.substr(0, 10))) return std::nullopt;
  if (length == 13 && (middle[10] != 'T' || !AllDigits(middle.substr(11, 2)))) return std::nullopt;
  Name parsed{std::string(middle.substr(0, length)), 0, entry};
  if (middle.size() == length) return parsed;
  const std::string_view repeat = middle.substr(length);
  if (repeat.size() < 2 || repeat.size() > 4 || repeat[0] != '-' || !AllDigits(repeat.substr(1)))
    return std::nullopt;
  std::from_chars(repeat.data() + 1, repeat.data() + repeat.size(), parsed.repeat);
  if (parsed.repeat < 2) return std::nullopt;
  return parsed;
}

std::vector<fs::path> RotatedFiles::Finished() const {
  std::vector<Name> names;
  fs::path folder = Target().parent_path();
  std::error_code ec;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(folder.empty() ? fs::path(".") : folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    if (std::optional<Name> name = Parse(entry.path())) names.push_back(std::move(*name));
  }
  std::sort(names.begin(), names.end(), [](const Name& a, const Name& b) {
    return a.key != b.key         ? a.key < b.key
           : a.repeat != b.repeat ? a.repeat < b.repeat
                                  : a.path < b.path;
  });
  std::vector<fs::path> paths;
  for (Name& name : names) paths.push_back(std::move(name.path));
  return paths;
}

fs::path RotatedFiles::MoveAside(const std::string& period) {
  std::string middle = period;
  if (middle.empty()) {
    std::uint64_t last = 0;
    for (const fs::path& finished : Finished()) {
      const std::optional<Name> name = Parse(finished);
      last = std::max<std::uint64_t>(last, std::stoull(name->key));
    }
    middle = std::to_string(last + 1);
  }
  std::error_code ec;
  const auto taken = [&ec](const fs::path& path) {
    return fs::exists(path, ec) || fs::exists(fs::path(path) += ".gz", ec);
  };
  fs::path finished = NameFor(middle);
  for (unsigned repeat = 2; taken(finished) && repeat <= kMostRepeats; ++repeat)
    finished = NameFor(middle + "-" + std::to_string(repeat));
  RenameAside(Target(), finished);
  return finished;
}

void RotatedFiles::Settle(const fs::path& finished) {
#if ZVK_GZIP
  if (rotation_.gzip) {
    ReplaceFile(fs::path(finished) += ".gz", Compressed(finished));
    std::error_code ec;
    fs::remove(finished, ec);
  }
#else
  (void)finished;
#endif
  if (rotation_.keep == 0) return;
  const std::vector<fs::path> all = Finished();
  for (std::size_t i = 0; i + rotation_.keep < all.size(); ++i) {
    std::error_code ec;
    fs::remove(all[i], ec);
  }
}

}  // namespace zvk::engine
