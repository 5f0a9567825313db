#include "platform/linux/proc/RunningProcessList.h"

#include <algorithm>
#include <unordered_set>

namespace quillet::platform::proc {

RunningProcessList::RunningProcessList(AppIdentity& identity, ProcessDirectory processes, uid_t owner)
    : identity_(identity), processes_(std::move(processes)), owner_(owner) {}

RunningProcessList::Changes RunningProcessList::refresh() {
  Changes changes;
  const auto listed = processes_.processIds();
  const std::unordered_set<int> present(listed.begin(), listed.end());

  for (auto entry = entries_.begin(); entry != entries_.end();) {
    if (present.contains(entry->first)) {
      ++entry;
      continue;
    }
    if (entry->second.isListed) changes.terminated.push_back(entry->second.application);
    entry = entries_.erase(entry);
  }

  for (auto& [processId, entry] : entries_) {
    if (!entry.isListed || entry.confirmed) continue;
    entry.confirmed = true;
    // The pid may have been taken over by a new process in between; its start time tells.
    const auto status = processes_.statusOf(processId);
    if (!status || status->startTime != entry.startTime) continue;
    const RunningApplication current{processId, identity_.bundleIdOfProcess(processId)};
    if (current == entry.application) continue;
    entry.application = current;
    changes.launched.push_back(current);
  }

  for (const int processId : listed) {
    if (entries_.contains(processId)) continue;
    const auto status = processes_.statusOf(processId);
    // Gone between the listing and now: the next listing will not show it either.
    if (!status) continue;
    Entry entry{status->startTime, RunningApplication{processId, std::nullopt}, false, false};
    entry.isListed = !status->isKernelThread && processes_.ownerOf(processId) == owner_;
    if (entry.isListed) {
      entry.application.bundleId = identity_.bundleIdOfProcess(processId);
      changes.launched.push_back(entry.application);
    }
    entries_.emplace(processId, std::move(entry));
  }
  return changes;
}

std::vector<RunningApplication> RunningProcessList::applications() const {
  std::vector<const Entry*> ordered;
  ordered.reserve(entries_.size());
  for (const auto& [processId, entry] : entries_) {
    if (entry.isListed) ordered.push_back(&entry);
  }
  std::sort(ordered.begin(), ordered.end(), [](const Entry* left, const Entry* right) {
    if (left->startTime != right->startTime) return left->startTime < right->startTime;
    return left->application.processId < right->application.processId;
  });
  std::vector<RunningApplication> applications;
  applications.reserve(ordered.size());
  for (const Entry* entry : ordered) applications.push_back(entry->application);
  return applications;
}

}  // namespace quillet::platform::proc
