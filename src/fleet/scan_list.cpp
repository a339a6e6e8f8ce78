#include "fleet/scan_list.h"

namespace zvk {

void ScanList::BeginScan() {
  before_.clear();
  for (ListedModule& m : modules_) {
    before_.push_back(m.state);
    m.state = ListedState::Checking;
  }
  seen_.assign(modules_.size(), false);
}

void ScanList::Found(const ScanRow& row) {
  const int index = IndexOf(row.address);
  if (index < 0) {
    modules_.push_back({row, ListedState::Online});
    seen_.push_back(true);
    return;
  }
  modules_[static_cast<std::size_t>(index)] = {row, ListedState::Online};
  seen_[static_cast<std::size_t>(index)] = true;
}

void ScanList::EndScan(bool completed) {
  for (std::size_t i = 0; i < modules_.size(); ++i) {
    if (seen_[i] || modules_[i].state != ListedState::Checking) continue;
    modules_[i].state = completed || i >= before_.size() ? ListedState::NotAnswering : before_[i];
  }
  seen_.assign(modules_.size(), false);
}

void ScanList::Probed(const std::string& address, const std::optional<ScanRow>& row) {
  const int index = IndexOf(address);
  if (index < 0) return;
  ListedModule& m = modules_[static_cast<std::size_t>(index)];
  if (row) m.row = *row;
  m.state = row ? ListedState::Online : ListedState::NotAnswering;
}

int ScanList::IndexOf(const std::string& address) const {
  for (std::size_t i = 0; i < modules_.size(); ++i)
    if (modules_[i].row.address == address) return static_cast<int>(i);
  return -1;
}

std::string ScanList::StateText(const ListedModule& module, const std::string& watched_host,
                                WatchedState watched, const std::string& why_not_polled) {
  if (module.row.address == watched_host) {
    switch (watched) {
      case WatchedState::FromScan:
        break;
      case WatchedState::Online:
        return "Watched, online";
      case WatchedState::Checking:
        return "Watched, checking…";
      case WatchedState::NotAnswering:
        return "Watched, not answering";
      case WatchedState::NotPolled:
        return "Watched, not polled: " + why_not_polled;
    }
  }
  std::string state;
  switch (module.state) {
    case ListedState::Online:
      state = "online";
      break;
    case ListedState::Checking:
      state = "checking…";
      break;
    case ListedState::NotAnswering:
      state = "not answering";
      break;
  }
  if (module.row.address == watched_host) return "Watched, " + state;
  state[0] = static_cast<char>(state[0] - 'a' + 'A');
  return state;
}

}  // namespace zvk
