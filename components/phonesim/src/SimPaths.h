// Device paths and the PC folders behind them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Description.h"

namespace phonesim {

// Where a storage item lives: a device, a drive and the names below its root
// (as spelled on disk). No names: the drive itself, which is also its root.
struct ItemLocation {
    std::wstring imei;
    wchar_t drive = L'C';
    std::vector<std::wstring> names;
};

// "C:" for the drive; "C:\A\B\" for a directory; "C:\A\f.txt" for a file.
std::wstring DevicePath(const ItemLocation& at, bool directory);
// The PC path of the item under the drive's folder.
std::wstring PcPath(const DriveDesc& drive, const ItemLocation& at);
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// A name the phone accepts for a file or directory.
bool IsValidName(const std::wstring& name);

// Splits "C:\A\B\" into the drive letter and names; directory is true when the
// path ends with a backslash or names the drive. ".", ".." and empty or
// invalid names are refused.
HRESULT ParseDevicePath(const std::wstring& path, wchar_t& drive, std::vector<std::wstring>& names, bool& directory);

// The on-disk spelling of names below folder; fails with the phone's result
// when a name is missing or a directory is a file.
HRESULT ResolveNames(const std::wstring& folder, const std::vector<std::wstring>& names, bool wantDirectory,
                     std::vector<std::wstring>& actual, bool& isDirectory);

// Names of the subdirectories or files of a folder, sorted without case.
HRESULT ListNames(const std::wstring& folder, bool directories, std::vector<std::wstring>& names);
bool IsEmptyFolder(const std::wstring& folder);
uint64_t FolderBytes(const std::wstring& folder);
uint64_t FreeBytes(const DriveDesc& drive);

// Local time as an automation date, as a phone reports it.
DATE ToDate(const FILETIME& utc);
// The full PC path; empty when it cannot be formed.
std::wstring FullPcPath(const std::wstring& path);

inline unsigned long Saturate32(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFul : static_cast<unsigned long>(v); }

} // namespace phonesim
