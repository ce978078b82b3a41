#ifndef TICKORA_SUPPORT_APP_PATHS_H_
#define TICKORA_SUPPORT_APP_PATHS_H_

#include <string>

// The per-user places the charting application shares with the setup
// program. The user's configuration folder is $XDG_CONFIG_HOME when it is
// an absolute path, else $HOME/.config; an empty text when neither variable
// is set. Nothing here creates a folder.

// <config>/Zelvane/Tickora
std::string UserAppFolder();

// <config>/Zelvane/Tickora/Tickora.ini
std::string SettingsFilePath();

// <config>/Zelvane/Tickora/data
std::string UserDataFolder();

// Removes the per-user data folder with everything in it. The charting
// application keeps data of the database there; a finished setup run
// builds a new database, so both front ends call this after a run that
// ended well. Silent: nothing to remove, or a folder that cannot be
// removed, is not an error of the run.
void RemoveUserDataFolder();

// The folder for temporary files, with a trailing "/" (honours $TMPDIR).
std::string TempFolder();

#endif  // TICKORA_SUPPORT_APP_PATHS_H_
