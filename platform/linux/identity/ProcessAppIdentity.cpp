#include "platform/linux/identity/ProcessAppIdentity.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string_view>

#include "platform/linux/identity/ApplicationIdentityTable.h"

namespace quillet::platform::identity {

namespace {

// Names longer than this are not application names; a garbled entry must not become an id.
constexpr std::size_t longestName = 255;

bool isDecimal(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = std::min(text.find('\n'), text.size());
    lines.push_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

std::string_view baseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A name fit to be an id: not empty, not overlong, no control characters or path separators.
bool isPlausibleName(std::string_view name) {
  return !name.empty() && name.size() <= longestName &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '/'; });
}

// systemd writes characters that are not allowed in unit names, the dash of an application id
// among them, as "\xNN"; anything malformed stays as written.
std::string unescapedUnitText(std::string_view text) {
  std::string plain;
  for (std::size_t index = 0; index < text.size(); ++index) {
    unsigned value = 0;
    if (text[index] == '\\' && index + 3 < text.size() && text[index + 1] == 'x') {
      const auto [end, error] = std::from_chars(text.data() + index + 2, text.data() + index + 4, value, 16);
      if (error == std::errc() && end == text.data() + index + 4 && value != 0) {
        plain.push_back(static_cast<char>(value));
        index += 3;
        continue;
      }
    }
    plain.push_back(text[index]);
  }
  return plain;
}

// What the process's control-group unit says about it.
struct UnitNames {
  std::optional<std::string> flatpakId;
  std::optional<std::string> snapName;
  std::vector<std::string> ownLaunchIds;
  std::vector<std::string> inheritedLaunchIds;
};

// "snap.<name>.<app>-<uuid>.scope" or "snap.<name>.<app>.service".
void readSnapUnit(std::string_view unit, UnitNames& names) {
  unit.remove_prefix(std::string_view("snap.").size());
  const auto dot = unit.find('.');
  if (dot == std::string_view::npos || dot == 0) return;
  names.snapName = std::string(unit.substr(0, dot));
}

// "app[-<launcher>]-<id>-<random>.scope" and "app[-<launcher>]-<id>[@<random>].service", after the
// desktop-environment conventions of systemd; GNOME uses the launched pid as the scope's random part.
void readApplicationUnit(std::string_view unit, int processId, UnitNames& names) {
  unit.remove_prefix(std::string_view("app-").size());
  bool launchedThisProcess = false;
  if (unit.ends_with(".scope")) {
    unit.remove_suffix(std::string_view(".scope").size());
    const auto dash = unit.rfind('-');
    if (dash == std::string_view::npos) return;
    const auto random = unit.substr(dash + 1);
    launchedThisProcess = isDecimal(random) && random == std::to_string(processId);
    unit = unit.substr(0, dash);
  } else if (unit.ends_with(".service")) {
    unit.remove_suffix(std::string_view(".service").size());
    unit = unit.substr(0, unit.find('@'));
  } else {
    return;
  }
  if (unit.empty()) return;
  const auto dash = unit.find('-');
  const auto launcher = dash == std::string_view::npos ? std::string_view() : unit.substr(0, dash);
  const auto id = dash == std::string_view::npos ? unit : unit.substr(dash + 1);
  if (launcher == "flatpak" && !id.empty()) {
    names.flatpakId = unescapedUnitText(id);
    return;
  }
  auto& ids = launchedThisProcess ? names.ownLaunchIds : names.inheritedLaunchIds;
  // A launcher that did not escape the dashes of an id leaves "<launcher>-<id>" ambiguous: try both readings.
  if (!id.empty()) ids.push_back(unescapedUnitText(id));
  if (dash != std::string_view::npos) ids.push_back(unescapedUnitText(unit));
}

// Each line of /proc/<pid>/cgroup is "<hierarchy>:<controllers>:<path>"; the unit is the path's last part.
UnitNames unitNamesOf(std::string_view cgroup, int processId) {
  UnitNames names;
  for (const auto line : splitLines(cgroup)) {
    const auto firstColon = line.find(':');
    const auto secondColon = firstColon == std::string_view::npos ? firstColon : line.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos) continue;
    const auto unit = baseName(line.substr(secondColon + 1));
    if (unit.starts_with("snap.")) {
      readSnapUnit(unit, names);
    } else if (unit.starts_with("app-")) {
      readApplicationUnit(unit, processId, names);
    }
  }
  return names;
}

// The "name" of the "[Application]" group in a Flatpak sandbox's info file.
std::optional<std::string> flatpakIdFromInfo(std::string_view info) {
  bool inApplicationGroup = false;
  for (const auto line : splitLines(info)) {
    if (line.starts_with("[")) {
      inApplicationGroup = line == "[Application]";
    } else if (inApplicationGroup && line.starts_with("name=")) {
      return std::string(line.substr(std::string_view("name=").size()));
    }
  }
  return std::nullopt;
}

// The desktop-file id of a path: below an "applications" folder, subfolders join the name with "-".
std::string desktopIdOfPath(std::string_view path) {
  constexpr std::string_view applicationsFolder = "/applications/";
  const auto folder = path.rfind(applicationsFolder);
  if (folder == std::string_view::npos) return std::string(baseName(path));
  std::string id(path.substr(folder + applicationsFolder.size()));
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

// What GLib put into the environment of a process it launched from a desktop file.
struct LauncherRecord {
  std::optional<std::string> desktopId;
  bool launchedThisProcess = false;
};

LauncherRecord launcherRecordOf(std::string_view environment, int processId) {
  constexpr std::string_view fileVariable = "GIO_LAUNCHED_DESKTOP_FILE=";
  constexpr std::string_view pidVariable = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
  LauncherRecord record;
  while (!environment.empty()) {
    const auto end = std::min(environment.find('\0'), environment.size());
    const auto variable = environment.substr(0, end);
    if (variable.starts_with(fileVariable)) {
      record.desktopId = desktopIdOfPath(variable.substr(fileVariable.size()));
    } else if (variable.starts_with(pidVariable)) {
      record.launchedThisProcess = variable.substr(pidVariable.size()) == std::to_string(processId);
    }
    environment.remove_prefix(std::min(end + 1, environment.size()));
  }
  return record;
}

// The executable's file name; the kernel appends " (deleted)" once an update replaced the file.
std::optional<std::string> executableNameOf(const proc::ProcessDirectory& processes, int processId) {
  if (auto target = processes.linkTarget(processId, "exe")) {
    std::string_view path = *target;
    constexpr std::string_view deletedMark = " (deleted)";
    if (path.ends_with(deletedMark)) path.remove_suffix(deletedMark.size());
    if (!baseName(path).empty()) return std::string(baseName(path));
  }
  auto command = processes.read(processId, "comm", 64);
  if (!command) return std::nullopt;
  while (!command->empty() && (command->back() == '\n' || command->back() == '\0')) command->pop_back();
  return command;
}

void addCandidate(std::vector<std::string>& candidates, const std::optional<std::string>& name) {
  if (!name || !isPlausibleName(*name)) return;
  if (std::find(candidates.begin(), candidates.end(), *name) == candidates.end()) candidates.push_back(*name);
}

}  // namespace

ProcessAppIdentity::ProcessAppIdentity(std::filesystem::path processRoot) : processes_(std::move(processRoot)) {}

ProcessAppIdentity::Names ProcessAppIdentity::namesOf(int processId) const {
  Names names;
  if (!processes_.exists(processId)) return names;

  const UnitNames units = unitNamesOf(processes_.read(processId, "cgroup").value_or(""), processId);
  const LauncherRecord launcher = launcherRecordOf(processes_.read(processId, "environ").value_or(""), processId);

  auto sandbox = units.flatpakId;
  if (!sandbox) {
    if (const auto info = processes_.read(processId, "root/.flatpak-info", 64 * 1024)) sandbox = flatpakIdFromInfo(*info);
  }
  if (!sandbox) sandbox = units.snapName;
  addCandidate(names.candidates, sandbox);
  names.isSandboxed = !names.candidates.empty();
  if (launcher.launchedThisProcess) addCandidate(names.candidates, launcher.desktopId);
  for (const auto& id : units.ownLaunchIds) addCandidate(names.candidates, id);
  addCandidate(names.candidates, executableNameOf(processes_, processId));
  if (!launcher.launchedThisProcess) addCandidate(names.candidates, launcher.desktopId);
  for (const auto& id : units.inheritedLaunchIds) addCandidate(names.candidates, id);
  return names;
}

std::vector<std::string> ProcessAppIdentity::candidateNames(int processId) const {
  return namesOf(processId).candidates;
}

std::optional<std::string> ProcessAppIdentity::bundleIdOfProcess(int processId) {
  const auto names = namesOf(processId);
  if (names.candidates.empty()) return std::nullopt;
  // Everything inside a sandbox belongs to the sandboxed application, whatever its files are called.
  if (names.isSandboxed) return ApplicationIdentityTable::bundleIdFor(names.candidates.front());
  for (const auto& name : names.candidates) {
    if (auto known = ApplicationIdentityTable::knownBundleId(name)) return known;
  }
  return ApplicationIdentityTable::bundleIdFor(names.candidates.front());
}

int ProcessAppIdentity::ownProcessId() { return static_cast<int>(::getpid()); }

}  // namespace quillet::platform::identity
