#include "ConfigStore.h"

#include <cstring>
#include <cwctype>
#include <cwchar>

#include "CapMgr.h"

namespace capmgr {
namespace {

// Not in mingw-w64's headers.
const CLSID kClsidDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const IID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

Selection Failure(long error, std::wstring message) {
    Selection s;
    s.error = error;
    s.message = std::move(message);
    return s;
}

std::wstring HexCode(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

bool IsPlainFileName(const wchar_t* name) {
    if (!name || !*name || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    for (const wchar_t* p = name; *p; ++p)
        if (*p < 32 || wcschr(L"\\/:*?\"<>|", *p)) return false;
    return true;
}

bool IsFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::wstring ConfigurationPlace() {
    std::wstring value(MAX_PATH, L'\0');
    DWORD n = GetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", &value[0], static_cast<DWORD>(value.size()));
    if (n >= value.size()) {
        value.resize(n);
        n = GetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", &value[0], static_cast<DWORD>(value.size()));
    }
    if (n > 0 && n < value.size()) return value.substr(0, n);

    DWORD bytes = 0;
    // REG_EXPAND_SZ values come expanded, as REG_SZ.
    const DWORD flags = RRF_RT_REG_SZ;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Morvane\\CapMgr", L"Config", flags, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return std::wstring();
    value.assign(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Morvane\\CapMgr", L"Config", flags, nullptr, &value[0], &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    value.resize(wcslen(value.c_str()));
    return value;
}

std::wstring FolderDocument(const std::wstring& folder, const wchar_t* imei) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    if (IsPlainFileName(imei) && IsFile(base + imei + L".xml")) return base + imei + L".xml";
    if (IsFile(base + L"default.xml")) return base + L"default.xml";
    return std::wstring();
}

Selection ConfigStore::Select(const wchar_t* imei, BSTR expression) {
    const std::wstring place = ConfigurationPlace();
    if (place.empty())
        return Failure(CAPMGR_ERROR_NO_CONFIGURATION,
                       L"No configuration: set MORVANE_CAPMGR_CONFIG or HKCU\\Software\\Morvane\\CapMgr\\Config.");
    std::wstring path = place;
    const DWORD attributes = GetFileAttributesW(place.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        path = FolderDocument(place, imei);
        // A device without a document has no configuration: nothing matches.
        if (path.empty()) return Selection();
    }

    Selection out;
    if (!Load(path, out)) return out;

    com::ComPtr<IXMLDOMNodeList> list;
    HRESULT hr = m_document->selectNodes(expression, list.Receive());
    long count = 0;
    if (FAILED(hr) || !list || FAILED(list->get_length(&count)))
        return Failure(CAPMGR_ERROR_EXPRESSION, L"Not a node-set path expression: " + std::wstring(expression));
    if (count > kMaxMatches)
        return Failure(CAPMGR_ERROR_TOO_MANY_MATCHES,
                       std::to_wstring(count) + L" matches; at most " + std::to_wstring(kMaxMatches) + L" are answered.");
    out.texts.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IXMLDOMNode> node;
        com::UniqueBstr value;
        hr = list->get_item(i, node.Receive());
        if (SUCCEEDED(hr) && node) hr = node->get_text(value.Receive());
        if (FAILED(hr) || !node) return Failure(CAPMGR_ERROR_INTERNAL, L"Reading a match failed: " + HexCode(hr));
        out.texts.emplace_back(value.c_str(), value.Length());
    }
    return out;
}

bool ConfigStore::Load(const std::wstring& path, Selection& out) {
    std::string content;
    {
        com::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size = {};
        DWORD read = 0;
        bool ok = file.Valid() && GetFileSizeEx(file.Get(), &size) && size.QuadPart <= kMaxDocumentBytes;
        if (ok) {
            content.resize(static_cast<size_t>(size.QuadPart));
            ok = content.empty() ||
                 (ReadFile(file.Get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr) &&
                  read == content.size());
        }
        if (!ok) {
            out = Failure(CAPMGR_ERROR_DOCUMENT_NOT_FOUND, L"Configuration document missing, unreadable or larger than " +
                                                               std::to_wstring(kMaxDocumentBytes) + L" bytes: " + path);
            return false;
        }
    }
    if (m_document && content == m_content) return true;
    m_document = nullptr;

    com::ComPtr<IXMLDOMDocument2> document;
    HRESULT hr = CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                  document.ReceiveVoid());
    if (FAILED(hr)) {
        out = Failure(CAPMGR_ERROR_INTERNAL, L"MSXML 6 is not available: " + HexCode(hr));
        return false;
    }
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    com::UniqueVariant xpath, bytes;
    xpath->vt = VT_BSTR;
    xpath->bstrVal = SysAllocString(L"XPath");
    com::UniqueBstr language(L"SelectionLanguage");
    // The bytes as they are: MSXML detects the encoding.
    bytes->parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(content.size()));
    if (!xpath->bstrVal || !language.Get() || !bytes->parray) {
        out = Failure(CAPMGR_ERROR_INTERNAL, L"Out of memory.");
        return false;
    }
    bytes->vt = VT_ARRAY | VT_UI1;
    if (!content.empty()) memcpy(bytes->parray->pvData, content.data(), content.size());
    hr = document->setProperty(language.Get(), *xpath.Get());
    if (FAILED(hr)) {
        out = Failure(CAPMGR_ERROR_INTERNAL, L"MSXML refuses XPath: " + HexCode(hr));
        return false;
    }
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->load(*bytes.Get(), &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE) {
        com::ComPtr<IXMLDOMParseError> error;
        com::UniqueBstr text;
        long line = 0;
        if (SUCCEEDED(document->get_parseError(error.Receive())) && error) {
            error->get_reason(text.Receive());
            error->get_line(&line);
        }
        std::wstring reason = text.c_str();
        while (!reason.empty() && iswspace(reason.back())) reason.pop_back();
        std::wstring message = L"Malformed configuration document " + path;
        if (line > 0) message += L", line " + std::to_wstring(line);
        if (!reason.empty()) message += L": " + reason;
        out = Failure(CAPMGR_ERROR_DOCUMENT_MALFORMED, message);
        return false;
    }
    m_document = std::move(document);
    m_content = std::move(content);
    return true;
}

} // namespace capmgr
