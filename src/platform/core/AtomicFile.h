#pragma once
// Replacing a file whole: the new contents go to a temporary file beside it,
// reach the disk and are renamed over it, and the folder is flushed after, so
// a reader, a crash or a power cut finds the old file or the new one, never
// part of one. Temporary files are ".<name>.XXXXXX" beside the target, locked
// while they are written. Stateless; any thread (writers of one target
// serialise themselves).

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

// Writes `bytes` over `target`, creating its folder; on failure the old file
// stays as it was, no temporary file is left, and the error says why.
[[nodiscard]] std::error_code replaceFileAtomically(const std::filesystem::path& target,
                                                    const std::vector<std::uint8_t>& bytes);

// Removes the temporary files of `target` that no write holds: those a
// process left when it died while writing.
void removeStaleTemporaryFiles(const std::filesystem::path& target);

}  // namespace platform
