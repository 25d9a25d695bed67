#include "com/ComUtil.h"

#include <comdef.h>
#include <cstring>

namespace com {

std::string ToAnsi(const wchar_t* s) {
    if (!s || !*s) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, s, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string GuidToString(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return ToAnsi(text);
}

} // namespace com

// comsupp is not part of mingw-w64; _bstr_t needs these two conversions.
namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* text) {
    if (!text) return nullptr;
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n - 1));
    if (!out) _com_issue_error(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, text, -1, out, n);
    return out;
}

char* WINAPI ConvertBSTRToString(BSTR text) {
    if (!text) return nullptr;
    int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(SysStringLen(text)) + 1, nullptr, 0, nullptr, nullptr);
    char* out = new (std::nothrow) char[n > 0 ? n : 1];
    if (!out) _com_issue_error(E_OUTOFMEMORY);
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(SysStringLen(text)) + 1, out, n, nullptr, nullptr);
    else out[0] = '\0';
    return out;
}

} // namespace _com_util

// comdef.h declares this raiser (used by generated wrappers); comsupp would supply it.
void WINAPI _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid) {
    IErrorInfo* info = nullptr;
    if (object) {
        ISupportErrorInfo* support = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
            if (support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
            support->Release();
        }
    }
    throw _com_error(hr, info);
}
