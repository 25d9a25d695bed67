#include "Text.h"

#include <oleauto.h>

#include <cstdio>

#include "ComSupport.h"

namespace kvfm {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string DescribeHr(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string text = code;
    wchar_t* message = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring detail;
    if (n && message) detail.assign(message, n);
    if (message) LocalFree(message);
    if (detail.empty()) {
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.Put()) == S_OK && info) {
            Bstr description;
            if (SUCCEEDED(info->GetDescription(description.Put()))) detail = description.Str();
        }
    }
    while (!detail.empty() && (detail.back() == L'\n' || detail.back() == L'\r' || detail.back() == L' '))
        detail.pop_back();
    if (!detail.empty()) text += " " + Utf8(detail);
    return text;
}

// The framework's operation results are not system codes: name them.
const char* OpResultName(ULONG code) {
    switch (code) {
    case 0x00000000: return "KVFM_OK";
    case 0x80000000: return "KVFM_E_FAILED";
    case 0x80000001: return "KVFM_E_DISCONNECTED";
    case 0x80000002: return "KVFM_E_NOT_FOUND";
    case 0x80000003: return "KVFM_E_ALREADY_EXISTS";
    case 0x80000004: return "KVFM_E_NO_SPACE";
    case 0x80000005: return "KVFM_E_ACCESS_DENIED";
    case 0x80000008: return "KVFM_E_NOT_SUPPORTED";
    case 0xC0000000: return "KVFM_ABORTED";
    default: return nullptr;
    }
}

std::string OpResultWords(ULONG code) {
    const char* name = OpResultName(code);
    if (!name) return DescribeHr(static_cast<HRESULT>(code));
    if (code == 0) return name;
    char text[64];
    std::snprintf(text, sizeof text, "%s (0x%08lX)", name, static_cast<unsigned long>(code));
    return text;
}

} // namespace kvfm
