#pragma once

#include <QString>

namespace platform {

// Settings files with the semantics programs expect from Windows private-profile
// files: a "[section]" line opens a section, "key=value" lines follow; section
// and key names match without regard to letter case (Cyrillic included); blanks
// around names and values are ignored and one pair of surrounding quotes is
// removed from a value; the first of duplicate sections or keys wins.
//
// Files are written as UTF-8. A line that is not valid UTF-8 is read as
// Windows-1251, so files written by older tools still read correctly.
//
// Reads never fail: a missing, unreadable or oversized file, or a missing
// section or key, gives the caller's fallback. Writes create the file, section
// or key when absent, keep every other line byte for byte, and replace the file
// atomically (temporary file in the same folder, then rename); they return
// false when the platform refuses, leaving the old file untouched.

// Larger files are not settings files; reads ignore them and writes refuse them
// rather than rewrite megabytes of something else.
inline constexpr qint64 kMaxPrivateProfileSize = 4 * 1024 * 1024;

[[nodiscard]] QString GetPrivateProfileString(const QString& section, const QString& key,
                                              const QString& fallback, const QString& fileName);

[[nodiscard]] bool WritePrivateProfileString(const QString& section, const QString& key,
                                             const QString& value, const QString& fileName);

// Removing something that is not there succeeds without touching the file.
[[nodiscard]] bool DeletePrivateProfileKey(const QString& section, const QString& key,
                                           const QString& fileName);
[[nodiscard]] bool DeletePrivateProfileSection(const QString& section, const QString& fileName);

}  // namespace platform
