// Path helpers shared by the object model and the operations. Paths live in
// buffers of MAX_PATH characters (terminator included): a longer path is
// refused with kPathTooLong, never truncated.
#pragma once

#include <windows.h>

#include <string>

constexpr size_t kPathBufferChars = MAX_PATH;
constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE); // 0x800700CE

// The tree root ("\" or, once its trailing backslash is gone, ""), a drive
// root ("C:", "C:\") or a share root ("\\server\share").
bool IsRootPath(const wchar_t* path);

// Parent (up to and including the last backslash, trailing backslashes of the
// path ignored) and last component. E_FAIL for a root or a path without a
// backslash; E_INVALIDARG for null; kPathTooLong.
HRESULT SplitPath(const wchar_t* path, std::wstring& parent, std::wstring& name);

// Every run of backslashes becomes one; nothing else changes.
// E_INVALIDARG for null; kPathTooLong.
HRESULT NormalisePath(const wchar_t* path, std::wstring& normalised);

// A single component that means the same on the phone and on the PC: not
// empty, not "." or "..", no separator, none of <>:"|?* and no control
// character, and short enough for a path buffer.
bool IsValidName(const wchar_t* name);
