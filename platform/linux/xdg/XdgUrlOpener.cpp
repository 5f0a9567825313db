#include "platform/linux/xdg/XdgUrlOpener.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace quillet::platform::xdg {

namespace {

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (!folder.empty() && ::access((std::filesystem::path(folder) / program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Starts the program through a shell that puts it in the background and exits at once, so the
// settings window is adopted by init and never lingers as a zombie child of the agent.
bool launch(const XdgUrlOpener::Command& command) {
  std::vector<std::string> shellCommand{"/bin/sh", "-c", "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &"};
  shellCommand.insert(shellCommand.end(), command.begin(), command.end());
  std::vector<char*> arguments;
  for (auto& argument : shellCommand) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  pid_t shell = 0;
  if (::posix_spawn(&shell, "/bin/sh", nullptr, nullptr, arguments.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

XdgUrlOpener::XdgUrlOpener()
    : XdgUrlOpener({
          {"gnome-control-center", "sound"},
          {"pavucontrol", "--tab=4"},
          {"pavucontrol-qt"},
          {"systemsettings", "kcm_pulseaudio"},
          {"xfce4-mixer"},
      }) {}

XdgUrlOpener::XdgUrlOpener(std::vector<Command> soundSettingsCandidates)
    : soundSettingsCandidates_(std::move(soundSettingsCandidates)) {}

Status XdgUrlOpener::openSoundSettings() {
  for (const auto& command : soundSettingsCandidates_) {
    if (command.empty() || !onPath(command.front())) continue;
    if (!launch(command)) return Error(command.front() + " could not be started");
    return succeeded();
  }
  return Error("no sound settings program is installed");
}

}  // namespace quillet::platform::xdg
