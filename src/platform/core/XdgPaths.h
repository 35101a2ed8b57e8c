#pragma once
// Where the application's files live on Linux: data (in place of Application
// Support), config (user defaults), cache and temporary folders, each under
// the XDG base directories with the application's folder name "Mossbridge".
// The environment is read at every call; an empty or relative value counts as
// unset. Without a usable HOME the password database's home folder is used.

#include <filesystem>

namespace platform {

// The user's home folder: $HOME when absolute, else the account database's
// entry, else "/".
std::filesystem::path homeDirectory();

// $XDG_DATA_HOME/Mossbridge, default ~/.local/share/Mossbridge
std::filesystem::path applicationSupportDirectory();
// $XDG_CONFIG_HOME/Mossbridge, default ~/.config/Mossbridge
std::filesystem::path userDefaultsDirectory();
// $XDG_CACHE_HOME/Mossbridge, default ~/.cache/Mossbridge
std::filesystem::path cachesDirectory();
// $TMPDIR, default /tmp
std::filesystem::path temporaryDirectory();

}  // namespace platform
