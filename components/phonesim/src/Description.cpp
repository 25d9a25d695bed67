#include "Description.h"

#include <ole2.h>
#include <msxml2.h>

#include <cwctype>

#include "SimCommon.h"
#include "com/ComUtil.h"

namespace phonesim {
namespace {

// mingw-w64 has msxml2.h but not these two identifiers.
const CLSID kClsidDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5e, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const CLSID kClsidDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
const IID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

using com::ComPtr;
using com::UniqueBstr;

std::wstring Lower(std::wstring s) {
    for (auto& ch : s) ch = static_cast<wchar_t>(std::towlower(ch));
    return s;
}

std::wstring Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r\n");
    if (b == std::wstring::npos) return std::wstring();
    size_t e = s.find_last_not_of(L" \t\r\n");
    return s.substr(b, e - b + 1);
}

// An attribute's text; present is false when the attribute is missing.
std::wstring Attribute(IXMLDOMNode* node, const wchar_t* name, bool* present = nullptr) {
    if (present) *present = false;
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (FAILED(node->get_attributes(attributes.Receive())) || !attributes) return std::wstring();
    ComPtr<IXMLDOMNode> attribute;
    UniqueBstr bname(name);
    if (attributes->getNamedItem(bname.Get(), attribute.Receive()) != S_OK || !attribute) return std::wstring();
    UniqueBstr text;
    if (FAILED(attribute->get_text(text.Receive()))) return std::wstring();
    if (present) *present = true;
    return Trim(text.c_str());
}

bool ParseBool(const std::wstring& text, bool fallback, bool& ok) {
    ok = true;
    if (text.empty()) return fallback;
    std::wstring t = Lower(text);
    if (t == L"true" || t == L"yes" || t == L"1") return true;
    if (t == L"false" || t == L"no" || t == L"0") return false;
    ok = false;
    return fallback;
}

// Decimal bytes with an optional K, M or G (powers of 1024).
bool ParseBytes(const std::wstring& text, uint64_t& value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && iswdigit(text[i]); ++i) {
        uint64_t next = v * 10 + (text[i] - L'0');
        if (next / 10 != v) return false;
        v = next;
    }
    if (i == 0) return false;
    uint64_t scale = 1;
    if (i < text.size()) {
        wchar_t unit = static_cast<wchar_t>(std::towupper(text[i++]));
        if (unit == L'K') scale = 1ull << 10;
        else if (unit == L'M') scale = 1ull << 20;
        else if (unit == L'G') scale = 1ull << 30;
        else return false;
        if (i != text.size()) return false;
    }
    if (v > UINT64_MAX / scale) return false;
    value = v * scale;
    return true;
}

bool ParseLong(const std::wstring& text, long& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    long v = wcstol(text.c_str(), &end, 0);
    if (!end || *end) return false;
    value = v;
    return true;
}

bool IsAbsolute(const std::wstring& p) {
    return (p.size() >= 2 && p[1] == L':') || (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\');
}

std::wstring FullPath(const std::wstring& p) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(p.c_str(), MAX_PATH * 2, buffer, nullptr);
    std::wstring full = (n == 0 || n >= MAX_PATH * 2) ? p : std::wstring(buffer, n);
    // A drive root keeps its backslash; anything else loses it.
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return full;
}

std::wstring Folder(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

HRESULT SelectNodes(IXMLDOMNode* from, const wchar_t* query, ComPtr<IXMLDOMNodeList>& out) {
    UniqueBstr q(query);
    return from->selectNodes(q.Get(), out.Receive());
}

struct Parser {
    std::wstring baseFolder;
    std::wstring& error;

    HRESULT Fail(const std::wstring& why) {
        error = why;
        return E_INVALIDARG;
    }

    HRESULT Drive(IXMLDOMNode* node, DeviceDesc& device) {
        DriveDesc d;
        std::wstring letter = Attribute(node, L"letter");
        if (letter.size() == 2 && letter[1] == L':') letter.pop_back();
        if (letter.size() != 1 || !iswalpha(letter[0]))
            return Fail(L"device " + device.imei + L": drive letter \"" + letter + L"\" is not A to Z");
        d.letter = static_cast<wchar_t>(std::towupper(letter[0]));
        if (device.FindDrive(d.letter))
            return Fail(L"device " + device.imei + L": drive " + letter + L" is listed twice");
        const std::wstring where = L"drive " + std::wstring(1, d.letter) + L": of device " + device.imei;

        d.label = Attribute(node, L"label");
        std::wstring folder = Attribute(node, L"folder");
        if (folder.empty()) return Fail(where + L" has no folder");
        d.folder = FullPath(IsAbsolute(folder) ? folder : baseFolder + L"\\" + folder);
        DWORD attributes = GetFileAttributesW(d.folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Fail(where + L": folder " + d.folder + L" does not exist");

        bool present = false;
        std::wstring text = Attribute(node, L"capacity", &present);
        d.capacity = 1ull << 30;
        if (present && !ParseBytes(text, d.capacity)) return Fail(where + L": bad capacity \"" + text + L"\"");
        text = Attribute(node, L"free", &present);
        d.freeComputed = !present || Lower(text) == L"computed";
        if (!d.freeComputed && !ParseBytes(text, d.freeBytes))
            return Fail(where + L": bad free space \"" + text + L"\"");
        text = Attribute(node, L"media", &present);
        // Any number is accepted, so that clients can be tested with unknown types.
        if (present && !ParseLong(text, d.media)) return Fail(where + L": bad media type \"" + text + L"\"");
        bool ok = true;
        d.removable = ParseBool(Attribute(node, L"removable"), false, ok);
        if (!ok) return Fail(where + L": removable is not true or false");
        d.readOnly = ParseBool(Attribute(node, L"readonly"), false, ok);
        if (!ok) return Fail(where + L": readonly is not true or false");
        d.fileSystem = Attribute(node, L"filesystem", &present);
        if (!present) d.fileSystem = L"FAT";
        text = Attribute(node, L"serial", &present);
        d.serial = 0x5A000000u | static_cast<DWORD>(d.letter);
        if (present) {
            wchar_t* end = nullptr;
            unsigned long v = wcstoul(text.c_str(), &end, 16);
            if (text.empty() || !end || *end) return Fail(where + L": serial is not hexadecimal");
            d.serial = static_cast<DWORD>(v);
        }
        device.drives.push_back(std::move(d));
        return S_OK;
    }

    HRESULT Device(IXMLDOMNode* node, Description& out) {
        DeviceDesc device;
        device.imei = Attribute(node, L"imei");
        if (device.imei.empty()) return Fail(L"a device has no imei");
        if (out.FindDevice(device.imei)) return Fail(L"device " + device.imei + L" is listed twice");
        device.manufacturer = Attribute(node, L"manufacturer");
        device.model = Attribute(node, L"model");
        device.name = Attribute(node, L"name");
        bool ok = true;
        device.connected = ParseBool(Attribute(node, L"connected"), true, ok);
        if (!ok) return Fail(L"device " + device.imei + L": connected is not true or false");

        ComPtr<IXMLDOMNodeList> drives;
        HRESULT hr = SelectNodes(node, L"drive", drives);
        if (FAILED(hr)) return hr;
        for (;;) {
            ComPtr<IXMLDOMNode> drive;
            if (drives->nextNode(drive.Receive()) != S_OK || !drive) break;
            hr = Drive(drive.Get(), device);
            if (FAILED(hr)) return hr;
        }
        out.devices.push_back(std::move(device));
        return S_OK;
    }

    HRESULT Document(IXMLDOMDocument2* doc, Description& out) {
        ComPtr<IXMLDOMNodeList> roots;
        HRESULT hr = SelectNodes(doc, L"/phonesim", roots);
        if (FAILED(hr)) return hr;
        ComPtr<IXMLDOMNode> root;
        if (roots->nextNode(root.Receive()) != S_OK || !root) return Fail(L"the root element is not <phonesim>");

        ComPtr<IXMLDOMNodeList> mimes;
        hr = SelectNodes(root.Get(), L"mime", mimes);
        if (FAILED(hr)) return hr;
        for (;;) {
            ComPtr<IXMLDOMNode> mime;
            if (mimes->nextNode(mime.Receive()) != S_OK || !mime) break;
            std::wstring ext = Lower(Attribute(mime.Get(), L"extension"));
            if (!ext.empty() && ext[0] == L'.') ext.erase(0, 1);
            std::wstring type = Attribute(mime.Get(), L"type");
            if (ext.empty() || type.empty()) return Fail(L"a <mime> element needs extension and type");
            out.mimeTypes.emplace_back(ext, type);
        }

        ComPtr<IXMLDOMNodeList> devices;
        hr = SelectNodes(root.Get(), L"device", devices);
        if (FAILED(hr)) return hr;
        for (;;) {
            ComPtr<IXMLDOMNode> device;
            if (devices->nextNode(device.Receive()) != S_OK || !device) break;
            hr = Device(device.Get(), out);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
};

HRESULT CreateDocument(ComPtr<IXMLDOMDocument2>& doc) {
    HRESULT hr = CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                  doc.ReceiveVoid());
    if (FAILED(hr))
        hr = CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                              doc.ReceiveVoid());
    return hr;
}

} // namespace

const DriveDesc* DeviceDesc::FindDrive(wchar_t letter) const {
    letter = static_cast<wchar_t>(std::towupper(letter));
    for (const auto& d : drives)
        if (d.letter == letter) return &d;
    return nullptr;
}

const DeviceDesc* Description::FindDevice(const std::wstring& imei) const {
    for (const auto& d : devices)
        if (d.imei == imei) return &d;
    return nullptr;
}

std::wstring ConfiguredDescriptionPath() {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"MORVANE_PHONESIM_CONFIG", buffer, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) return std::wstring(buffer, n);
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Morvane\\PhoneSim", L"Config", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ,
                     nullptr, buffer, &size) == ERROR_SUCCESS)
        return buffer;
    return std::wstring();
}

HRESULT LoadDescriptionFile(const std::wstring& path, Description& out, std::wstring& error) {
    out = Description();
    error.clear();
    if (path.empty()) {
        error = L"no description file given";
        return E_INVALIDARG;
    }
    const std::wstring full = FullPath(path);
    if (GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = L"description file " + full + L" not found";
        return kFileNotFound;
    }

    // MSXML needs COM on this thread; a thread without it gets it for the load.
    bool uninit = false;
    ComPtr<IXMLDOMDocument2> doc;
    HRESULT hr = CreateDocument(doc);
    if (hr == CO_E_NOTINITIALIZED && SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        uninit = true;
        hr = CreateDocument(doc);
    }
    if (SUCCEEDED(hr)) {
        doc->put_async(VARIANT_FALSE);
        doc->put_validateOnParse(VARIANT_FALSE);
        doc->put_resolveExternals(VARIANT_FALSE);
        VARIANT source;
        VariantInit(&source);
        source.vt = VT_BSTR;
        source.bstrVal = SysAllocString(full.c_str());
        VARIANT_BOOL loaded = VARIANT_FALSE;
        hr = source.bstrVal ? doc->load(source, &loaded) : E_OUTOFMEMORY;
        VariantClear(&source);
        if (SUCCEEDED(hr) && loaded != VARIANT_TRUE) {
            error = L"description file " + full + L" is not well-formed XML";
            ComPtr<IXMLDOMParseError> parseError;
            UniqueBstr reason;
            if (SUCCEEDED(doc->get_parseError(parseError.Receive())) && parseError &&
                SUCCEEDED(parseError->get_reason(reason.Receive())) && !reason.IsNull())
                error += L": " + Trim(reason.c_str());
            hr = E_INVALIDARG;
        } else if (SUCCEEDED(hr)) {
            out.path = full;
            Parser parser{Folder(full), error};
            hr = parser.Document(doc.Get(), out);
            if (FAILED(hr) && error.empty()) error = L"description file " + full + L" could not be read";
        }
    } else {
        error = L"MSXML is not available";
    }
    doc.Reset();
    if (uninit) CoUninitialize();
    if (FAILED(hr)) out = Description();
    return hr;
}

std::wstring MimeTypeFor(const Description& description, const std::wstring& fileName) {
    static const wchar_t* const table[][2] = {
        {L"txt", L"text/plain"},          {L"htm", L"text/html"},
        {L"html", L"text/html"},          {L"xml", L"text/xml"},
        {L"csv", L"text/csv"},            {L"vcf", L"text/x-vcard"},
        {L"vcs", L"text/x-vcalendar"},    {L"jad", L"text/vnd.sun.j2me.app-descriptor"},
        {L"jpg", L"image/jpeg"},          {L"jpeg", L"image/jpeg"},
        {L"png", L"image/png"},           {L"gif", L"image/gif"},
        {L"bmp", L"image/bmp"},           {L"tif", L"image/tiff"},
        {L"tiff", L"image/tiff"},         {L"svg", L"image/svg+xml"},
        {L"mp3", L"audio/mpeg"},          {L"wav", L"audio/wav"},
        {L"amr", L"audio/amr"},           {L"aac", L"audio/aac"},
        {L"mid", L"audio/midi"},          {L"midi", L"audio/midi"},
        {L"wma", L"audio/x-ms-wma"},      {L"mp4", L"video/mp4"},
        {L"3gp", L"video/3gpp"},          {L"avi", L"video/x-msvideo"},
        {L"wmv", L"video/x-ms-wmv"},      {L"rm", L"application/vnd.rn-realmedia"},
        {L"pdf", L"application/pdf"},     {L"zip", L"application/zip"},
        {L"jar", L"application/java-archive"}, {L"sis", L"application/vnd.symbian.install"},
        {L"sisx", L"x-epoc/x-sisx-app"},  {L"doc", L"application/msword"},
        {L"xls", L"application/vnd.ms-excel"}, {L"ppt", L"application/vnd.ms-powerpoint"},
    };
    size_t dot = fileName.find_last_of(L'.');
    if (dot == std::wstring::npos || dot + 1 == fileName.size()) return L"application/octet-stream";
    const std::wstring ext = Lower(fileName.substr(dot + 1));
    for (const auto& m : description.mimeTypes)
        if (m.first == ext) return m.second;
    for (const auto& row : table)
        if (ext == row[0]) return row[1];
    return L"application/octet-stream";
}

} // namespace phonesim
