#pragma once
// File helpers of the intake, on the platform's file primitives. None of them raises: each
// returns false or empty text when the file system refuses. Their pauses let the event loop
// run.

#include <cstddef>
#include <string>

namespace dexweb {

// How long a file that its writer still holds open is waited for.
inline constexpr double kWriterWaitSeconds = 30;
inline constexpr double kWriterPollSeconds = 0.3;
// The most that ReadWholeFile reads of a file; the rest is not read.
inline constexpr std::size_t kReadLimit = std::size_t{1} << 20;

// True when the path exists and is not a folder.
bool isfile(const std::string& path);
// True when the path is a folder.
bool isdir(const std::string& path);
// True while another process holds the file open for writing.
bool FileIsLocked(const std::string& path);
// Waits in pauses of kWriterPollSeconds while FileIsLocked(path), for at most max_seconds;
// true once the writer has let go (or the file is gone).
bool WaitForWriter(const std::string& path, double max_seconds = kWriterWaitSeconds);
// Reads the file's first `limit` bytes as text (valid UTF-8 as it is, any other byte as its
// Windows-1252 character); with wait, first WaitForWriter. False, with empty text, when the
// file could not be read or its writer held it beyond the wait.
bool ReadWholeFile(const std::string& path, std::string& text, bool wait, std::size_t limit = kReadLimit);
// Up to attempts deletions, pausing `pause` seconds after each failure. A path holding '*'
// (and possibly '?') in its last part deletes every matching file of its folder. A missing
// file counts as deleted.
bool DeleteFileWithRetries(const std::string& path, int attempts, double pause);
// False at once when source is no file; otherwise up to attempts copies (an existing target
// is replaced), letting events run after each and pausing `pause` seconds after a failed one.
bool CopyFileWithRetries(const std::string& source, const std::string& target, int attempts, double pause);
// Creates the folder and its missing parents; true when it exists afterwards.
bool EnsureFolder(const std::string& path);

}  // namespace dexweb
