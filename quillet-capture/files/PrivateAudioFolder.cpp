#include "quillet-capture/files/PrivateAudioFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillet::capture {

namespace {

Status checkPrivate(const std::filesystem::path& folder) {
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0) return Error(std::generic_category().message(errno));
  if (S_ISLNK(status.st_mode)) return Error("it is a symbolic link");
  if (!S_ISDIR(status.st_mode)) return Error("it is not a directory");
  if (status.st_uid != ::geteuid()) return Error("it belongs to another user");
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) return Error("other users can access it");
  return succeeded();
}

std::string refusedLine(const std::filesystem::path& folder, const Error& refusal, const std::string& outcome) {
  return "[whisper] not using " + folder.string() + " for audio chunks: " + refusal.description() + " — " + outcome +
         "\n";
}

}  // namespace

std::error_code PrivateAudioFolder::createMissing(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& part : folder.lexically_normal()) {
    partial /= part;
    if (part.empty() || part == partial.root_path()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return {errno, std::generic_category()};
  }
  return {};
}

Status PrivateAudioFolder::prepare(const std::filesystem::path& folder) {
  if (const std::error_code error = createMissing(folder)) return Error("cannot create it: " + error.message());
  return checkPrivate(folder);
}

PrivateAudioFolder PrivateAudioFolder::choose(const std::filesystem::path& temporaryDirectory,
                                              const std::optional<std::filesystem::path>& runtimeDirectory,
                                              const DiagnosticSink& diagnostics) {
  std::error_code ignored;  // a relative path whose base cannot be read is kept as it is
  std::filesystem::path preferred = std::filesystem::absolute(temporaryDirectory / kName, ignored);
  if (preferred.empty()) preferred = temporaryDirectory / kName;
  const Status preferredReady = prepare(preferred);
  if (preferredReady.hasValue()) return {preferred, true};

  if (!runtimeDirectory || runtimeDirectory->empty() || !runtimeDirectory->is_absolute()) {
    diagnostics(
        refusedLine(preferred, preferredReady.error(), "no runtime directory to fall back on, no chunk can be written"));
    return {preferred, false};
  }
  const std::filesystem::path fallback = *runtimeDirectory / kName;
  const Status fallbackReady = prepare(fallback);
  if (fallbackReady.hasValue()) {
    diagnostics(refusedLine(preferred, preferredReady.error(), "writing them to " + fallback.string()));
    return {fallback, true};
  }
  diagnostics(refusedLine(preferred, preferredReady.error(), "trying " + fallback.string()));
  diagnostics(refusedLine(fallback, fallbackReady.error(), "no chunk can be written"));
  return {preferred, false};
}

}  // namespace quillet::capture
