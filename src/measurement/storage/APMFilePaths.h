#pragma once
// Files of the measurement library, kept in "Vadova/Measurement" under the
// application-support folder.

#include <string>

struct APMError;

// The path of `fileName` in the measurement folder (the folder is created
// when missing); when the folder cannot be made, 19001 (level 1) is logged
// and the path is empty.
std::string APMMeasurementFilePath(const std::string& fileName);
// The measurement folder itself, "<application support>/Vadova/Measurement".
std::string APMMeasurementDirectoryPath();

// Deletes the file; false with `*error` set when it could not be deleted
// (a file that does not exist counts as a failure).
[[nodiscard]] bool APMDeleteFile(const std::string& path, APMError* error);

// Marks the path as left out of backups (the "user.xdg.robots.backup"
// extended attribute set to "false"); false with `*error` set when the path
// does not exist or the mark cannot be set (a file system without extended
// attributes needs no mark).
[[nodiscard]] bool APMExcludeFromBackup(const std::string& path, APMError* error);
