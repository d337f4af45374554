// File operations the run log and the installation readers need. Paths are
// byte strings as the host gives them (code page 936 on the host's side).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk571::platform {

// True when something (file or directory) exists under the path.
bool PathExists(const std::string& path);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
std::optional<uint64_t> FileSize(const std::string& path);
std::optional<std::chrono::system_clock::time_point> ModificationTime(const std::string& path);

// Creates the directory and its missing parents; true when it exists at the
// end. An empty path is a failure.
bool MakeDirectories(const std::string& dir);

// Creates an empty file unless one exists; true when it exists at the end.
bool CreateFileIfMissing(const std::string& path);

// Moves a file to a name that must not exist yet: an existing target is never
// replaced, even when another process creates it at the same moment.
bool RenameNoReplace(const std::string& from, const std::string& to);
bool DeleteFile(const std::string& path);

// Names of the entries of a directory, without "." and ".."; empty when the
// directory cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);

// Reads at most max_bytes from the start of a file; nullopt when it cannot be
// opened.
std::optional<std::string> ReadFileHead(const std::string& path, std::size_t max_bytes);

enum class AppendResult { kWritten, kBusy, kFailed };

// Appends the bytes to the file (created when missing) under an exclusive
// advisory lock (flock), so that writers of other processes never interleave.
// When another process holds the lock for longer than the bounded wait the
// text is not written and the result is kBusy. The wait uses real time, not
// the driver's clock, so that a test clock cannot stall it.
AppendResult AppendLocked(const std::string& path, std::string_view bytes);

}  // namespace tk571::platform
