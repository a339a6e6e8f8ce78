// `zvk scan [CIDR...] [--csv | --json]`: finds the modules on the named ranges (default: the
// subnets of the host's up interfaces) and prints one row per module.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "cli/term/stop_request.h"
#include "fleet/scan.h"
#include "fleet/scan_range.h"
#include "fleet/scan_report.h"

namespace zvk::cli {

namespace {

constexpr const char* kFleet = "Many modules";

std::string Join(const std::vector<Ipv4Range>& ranges) {
  std::string text;
  for (const Ipv4Range& r : ranges) text += (text.empty() ? "" : ", ") + r.Text();
  return text;
}

class ScanCommand final : public CopyableCommand<ScanCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("ranges", range_texts_,
                   "IPv4 ranges such as 192.168.1.0/24 (at most a /16 each); default: the subnets "
                   "of the host's up interfaces");
    auto* csv = sub.add_flag("--csv", csv_, "CSV with a header line, for scripts");
    sub.add_flag("--json", json_, "a JSON array of objects, for scripts")->excludes(csv);
  }

  void CheckArguments() override {
    try {
      for (const std::string& text : range_texts_) ranges_.push_back(ParseScanRange(text));
    } catch (const ScanRangeError& e) {
      throw UsageError(e.what());
    }
  }

  void Run(Session& s) override {
    if (s.options().host)
      throw UsageError("scan looks for modules on ranges; give them instead of --host");
    if (ranges_.empty()) {
      std::vector<std::string> skipped;
      try {
        ranges_ = HostSubnets(s.host_interfaces(), &skipped);
      } catch (const ScanRangeError& e) {
        throw Failed(e.what());
      }
      for (const std::string& wide : skipped)
        s.err << "zvk: not scanning " << wide << ", wider than a /16; name a part of it\n";
      if (ranges_.empty())
        throw Failed(
            "no up network interface with a subnet to scan; name a range such as "
            "192.168.1.0/24");
    }
    const std::vector<std::string> addresses = ScanAddresses(ranges_);

    StopRequest& stop = StopRequest::Install();
    ScanOptions options;
    options.port = s.options().port;
    options.cancelled = [&stop] { return stop.requested(); };
    if (s.progress_terminal()) {
      options.on_progress = [&s](std::size_t done, std::size_t total) {
        if (done % 16 == 0 || done == total)
          s.err << "\rScanning: " << done << " of " << total << " addresses" << std::flush;
      };
    }
    const ScanResult result = ScanModules(s.network(), addresses, options);
    if (s.progress_terminal()) s.err << '\n';

    if (json_)
      s.out << ScanJson(result.modules);
    else if (csv_)
      s.out << ScanCsv(result.modules);
    else if (!result.modules.empty())
      s.out << ScanTable(result.modules);
    s.out.flush();

    s.err << "Scanned " << result.probed << " of " << addresses.size() << " addresses ("
          << Join(ranges_) << "): " << result.modules.size()
          << (result.modules.size() == 1 ? " module" : " modules");
    if (result.not_modules > 0)
      s.err << ", " << result.not_modules
            << (result.not_modules == 1 ? " other answer" : " other answers");
    if (result.silent > 0) s.err << ", " << result.silent << " silent";
    s.err << '\n';
    if (result.cancelled) throw Failed("scan stopped");
    if (result.modules.empty()) throw Failed("no module found");
  }

 private:
  std::vector<std::string> range_texts_;
  std::vector<Ipv4Range> ranges_;
  bool csv_ = false;
  bool json_ = false;
};

}  // namespace

void AddManyModulesCommands(std::vector<CommandEntry>& table) {
  table.push_back({"scan", kFleet,
                   "Find the modules on IPv4 ranges: scan [CIDR...] [--csv | --json]", false, false,
                   [] { return std::unique_ptr<Command>(std::make_unique<ScanCommand>()); }});
}

}  // namespace zvk::cli
