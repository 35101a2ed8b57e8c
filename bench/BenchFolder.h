#pragma once
// The folder a bench process keeps its files in: "<program>-<pid>" in the
// system's temporary folder, made on first use. The bench removes it at exit.

#include <errno.h>  // program_invocation_short_name
#include <unistd.h>

#include <filesystem>
#include <string>

inline std::filesystem::path benchFolder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    (std::string(program_invocation_short_name) + "-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}
