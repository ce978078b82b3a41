#include "support/app_paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string ConfigFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; an empty or relative one is
  // ignored, as the base directory convention asks. A relative one would
  // name a folder under the current directory, and the data folder there
  // is deleted after a finished run.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config";
  return std::string();
}

}  // namespace

std::string UserAppFolder() {
  std::string config = ConfigFolder();
  if (config.empty()) return std::string();
  return config + "/Zelvane/Tickora";
}

std::string SettingsFilePath() {
  std::string folder = UserAppFolder();
  return folder.empty() ? std::string() : folder + "/Tickora.ini";
}

std::string UserDataFolder() {
  std::string folder = UserAppFolder();
  return folder.empty() ? std::string() : folder + "/data";
}

void RemoveUserDataFolder() {
  const std::string data = UserDataFolder();
  if (data.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(data, ec);
}

std::string TempFolder() {
  std::error_code ec;
  std::string path = std::filesystem::temp_directory_path(ec).string();
  if (ec || path.empty()) path = "/tmp";
  if (path.back() != '/') path.push_back('/');
  return path;
}
