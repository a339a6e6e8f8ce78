// The Modules window's list: every module a scan found, kept across scans, with its live state.
// A rescan marks the modules listed before as being checked, then as answering again or not;
// the module the main window watches is marked as such.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/scan.h"

namespace zvk {

enum class ListedState {
  Online,        // answered the latest scan
  Checking,      // listed from an earlier scan; the scan running now has not reached it yet
  NotAnswering,  // listed from an earlier scan, and the latest one found nothing there
};

// What the main window knows of the module it watches, from its own polls; it says more than
// the scan did, which may be minutes old.
enum class WatchedState {
  FromScan,      // nothing of its own: the scan's state
  Online,        // its last poll was answered
  Checking,      // just made the watched one: not asked yet
  NotAnswering,  // its last poll brought nothing
  NotPolled,     // the main window's connection check fails, so it is not polled at all
};

struct ListedModule {
  ScanRow row;
  ListedState state = ListedState::Online;
};

class ScanList {
 public:
  void BeginScan();
  // A module the running scan found: added, or its row brought up to date.
  void Found(const ScanRow& row);
  // The scan is over: the modules it did not find no longer answer. A stopped scan reached only
  // some addresses, so what it did not reach keeps the state it had.
  void EndScan(bool completed);
  // A listed module was asked again outside a scan: `row` when it answered, none when not.
  // An address that is not listed is left alone.
  void Probed(const std::string& address, const std::optional<ScanRow>& row);

  const std::vector<ListedModule>& modules() const { return modules_; }
  // The row of an address; -1 when it is not listed.
  int IndexOf(const std::string& address) const;

  // "Online", "Checking…", "Not answering"; "Watched, online" and so on for the module the main
  // window watches (`watched_host`), from `watched` where the main window knows better, with
  // `why_not_polled` after "Watched, not polled: ".
  static std::string StateText(const ListedModule& module, const std::string& watched_host,
                               WatchedState watched = WatchedState::FromScan,
                               const std::string& why_not_polled = "");

 private:
  std::vector<ListedModule> modules_;
  std::vector<bool> seen_;           // found by the running scan
  std::vector<ListedState> before_;  // the states when it began
};

}  // namespace zvk
