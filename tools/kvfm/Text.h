// Text helpers shared by kvfm's commands: UTF-8 output and readable results.
#pragma once

#include <windows.h>

#include <string>

namespace kvfm {

std::string Utf8(const std::wstring& text);

// "0x80070005 Access is denied." with whatever text the system or the failing
// object offers.
std::string DescribeHr(HRESULT hr);

// The name of a KVFMOpResult (idl/KVFileMgmt.idl), or null for other codes.
const char* OpResultName(ULONG code);

// "KVFM_OK", "KVFM_E_ACCESS_DENIED (0x80000005)", or the code and its system
// text when it is no KVFMOpResult.
std::string OpResultWords(ULONG code);

} // namespace kvfm
