#include <algorithm>

#include "platform/files.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

// A writer that holds the log longer than this keeps us out: the text is
// dropped, as the host's own writers do.
constexpr int kShareAttempts = 40;
constexpr DWORD kShareRetryMs = 5;  // 200 ms in all

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (ok()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return !path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

bool IsDirectoryAttribute(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A disk file, not a directory, device or pipe.
bool IsDiskFile(HANDLE handle) {
  return GetFileType(handle) == FILE_TYPE_DISK;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    left -= written;
  }
  return true;
}

}  // namespace

bool PathExists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsRegularFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, data) && !IsDirectoryAttribute(data.dwFileAttributes) &&
         (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool IsDirectory(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, data) && IsDirectoryAttribute(data.dwFileAttributes);
}

std::optional<uint64_t> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data) || IsDirectoryAttribute(data.dwFileAttributes)) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::chrono::system_clock::time_point> ModificationTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data)) return std::nullopt;
  // FILETIME counts 100 ns from 1601-01-01.
  constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  using namespace std::chrono;
  const auto since_epoch = duration<int64_t, std::ratio<1, 10000000>>(
      static_cast<int64_t>(ticks) - static_cast<int64_t>(kUnixEpochAsFileTime));
  return system_clock::time_point(duration_cast<system_clock::duration>(since_epoch));
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  if (IsDirectory(dir)) return true;
  // Each level in turn; levels that exist, drive names and the server and
  // share of a UNC path simply fail to be created.
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find_first_of("/\\", pos + 1);
    const std::string level = dir.substr(0, pos);
    if (level.empty() || level == "." || level == "..") continue;
    CreateDirectoryA(level.c_str(), nullptr);
  }
  return IsDirectory(dir);
}

bool CreateFileIfMissing(const std::string& path) {
  if (path.empty()) return false;
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.ok();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing target.
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

bool DeleteFile(const std::string& path) {
  return !path.empty() && DeleteFileA(path.c_str()) != 0;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  std::string pattern = dir;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string_view name(found.cFileName);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::optional<std::string> ReadFileHead(const std::string& path, std::size_t max_bytes) {
  if (path.empty()) return std::nullopt;
  Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok() || !IsDiskFile(file.get())) return std::nullopt;
  std::string out;
  char buffer[8192];
  while (out.size() < max_bytes) {
    const DWORD want = static_cast<DWORD>(std::min(sizeof(buffer), max_bytes - out.size()));
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    out.append(buffer, got);
  }
  return out;
}

AppendResult AppendLocked(const std::string& path, std::string_view bytes) {
  if (path.empty()) return AppendResult::kFailed;
  // Opened for appending while other writers are denied: readers (a log
  // viewer) may look on, a second writer has to wait or drop its text.
  for (int attempt = 0; attempt < kShareAttempts; ++attempt) {
    Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.ok()) {
      if (!IsDiskFile(file.get())) return AppendResult::kFailed;
      return WriteAll(file.get(), bytes) ? AppendResult::kWritten : AppendResult::kFailed;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return AppendResult::kFailed;
    Sleep(kShareRetryMs);
  }
  return AppendResult::kBusy;
}

}  // namespace tk571::platform
