#include "platform/linux/xdg/DesktopApplications.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>

namespace quillet::platform::xdg {

namespace {


// XDG honours absolute paths only; a relative one would move with the working directory.
bool isAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::filesystem::path dataHome(const DesktopApplications::EnvironmentLookup& lookup) {
  if (auto configured = lookup("XDG_DATA_HOME"); configured && isAbsolute(*configured)) return *configured;
  std::filesystem::path home = "/";
  if (auto variable = lookup("HOME"); variable && isAbsolute(*variable)) {
    home = *variable;
  } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    home = entry->pw_dir;
  }
  return home / ".local/share";
}

std::vector<std::filesystem::path> dataDirectories(const DesktopApplications::EnvironmentLookup& lookup) {
  std::vector<std::filesystem::path> folders;
  std::string_view list;
  const auto configured = lookup("XDG_DATA_DIRS");
  if (configured) list = *configured;
  while (!list.empty()) {
    const auto end = std::min(list.find(':'), list.size());
    if (isAbsolute(list.substr(0, end))) folders.emplace_back(list.substr(0, end));
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  if (folders.empty()) folders = {"/usr/local/share", "/usr/share"};
  return folders;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A list value: entries end with ";", and "\;" is a semicolon inside an entry.
std::vector<std::string> listEntries(std::string_view value) {
  std::vector<std::string> entries;
  std::string current;
  for (std::size_t index = 0; index < value.size(); ++index) {
    if (value[index] == '\\' && index + 1 < value.size() && value[index + 1] == ';') {
      current.push_back(';');
      ++index;
    } else if (value[index] == ';') {
      entries.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(value[index]);
    }
  }
  entries.push_back(std::move(current));
  std::erase_if(entries, [](const std::string& entry) { return trimmed(entry).empty(); });
  return entries;
}

// The keys of the [Desktop Entry] group that decide whether an application handles a type.
struct DesktopEntry {
  std::string type;
  bool hidden = false;
  std::vector<std::string> mimeTypes;
};

// Other groups (actions, vendor extensions) are skipped; so are localised keys and comments.
DesktopEntry readDesktopEntry(const std::filesystem::path& file) {
  DesktopEntry entry;
  std::ifstream stream(file);
  std::string line;
  bool inDesktopEntry = false;
  while (std::getline(stream, line)) {
    const auto text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      inDesktopEntry = text == "[Desktop Entry]";
      continue;
    }
    if (!inDesktopEntry) continue;
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    const auto key = trimmed(text.substr(0, equals));
    const auto value = trimmed(text.substr(equals + 1));
    if (key == "Type") {
      entry.type = value;
    } else if (key == "Hidden") {
      entry.hidden = value == "true";
    } else if (key == "MimeType") {
      entry.mimeTypes = listEntries(value);
    }
  }
  return entry;
}

std::string desktopIdOf(const std::filesystem::path& relativePath) {
  std::string id = relativePath.generic_string();
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

bool handles(const DesktopEntry& entry, std::string_view mimeType) {
  if (entry.hidden || entry.type != "Application") return false;
  return std::any_of(entry.mimeTypes.begin(), entry.mimeTypes.end(),
                     [&](const std::string& listed) { return trimmed(listed) == mimeType; });
}

}  // namespace

DesktopApplications::DesktopApplications() : lookup_(platform::processEnvironment) {}

DesktopApplications::DesktopApplications(EnvironmentLookup lookup) : lookup_(std::move(lookup)) {}

std::vector<std::filesystem::path> DesktopApplications::applicationFolders() const {
  std::vector<std::filesystem::path> folders{dataHome(lookup_) / "applications"};
  for (const auto& dataDirectory : dataDirectories(lookup_)) folders.push_back(dataDirectory / "applications");
  return folders;
}

std::vector<std::string> DesktopApplications::idsHandling(std::string_view mimeType) const {
  std::set<std::string> decided;
  std::set<std::string> handling;
  for (const auto& folder : applicationFolders()) {
    std::error_code error;
    std::filesystem::recursive_directory_iterator files(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    if (error) continue;
    for (const std::filesystem::recursive_directory_iterator end; files != end; files.increment(error)) {
      if (error) break;
      const auto& path = files->path();
      if (path.extension() != ".desktop" || !files->is_regular_file(error)) continue;
      const std::string id = desktopIdOf(path.lexically_relative(folder));
      // An earlier folder already decided this id, whatever it said.
      if (!decided.insert(id).second) continue;
      if (handles(readDesktopEntry(path), mimeType)) handling.insert(id);
    }
  }
  return {handling.begin(), handling.end()};
}

}  // namespace quillet::platform::xdg
