// Whole-file writes that a crash cannot leave half done.
#pragma once

#include <optional>
#include <string>

namespace AtomicFile {

// Reads the whole file into `bytes`. Returns 0, or the errno value of the failure (ENOENT: no file).
int read(const std::string& path, std::string& bytes);

// Renames `path` to `path + suffix`, or to `path + suffix + ".N"` with the first N free, never over an
// existing file. Nothing, or why it could not be moved.
std::optional<std::string> setAside(const std::string& path, const std::string& suffix);

// Writes and fsyncs `bytes` to `path` itself (truncating it). False on any failure, errno set.
bool writeDirect(const std::string& path, const std::string& bytes);

// Writes `temporary`, fsyncs it, renames it over `path` and fsyncs the folder, so `path` holds either the
// old or the new bytes at every moment. False (errno set, the temporary removed) when any step fails.
bool replace(const std::string& path, const std::string& bytes, const std::string& temporary);

// replace() with a temporary named after the path and this process.
bool replace(const std::string& path, const std::string& bytes);

} // namespace AtomicFile
