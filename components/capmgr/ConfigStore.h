// Finding a device's configuration document and evaluating path expressions
// over it with MSXML.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <vector>

#include "com/ComUtil.h"

namespace capmgr {

// More matches than this are refused: the answer array grows with their square.
constexpr long kMaxMatches = 1024;

// The outcome of one query: the matches' texts in document order, or an error
// (a CapMgrError value) with a description for the caller's error info.
struct Selection {
    long error = 0;
    std::wstring message;
    std::vector<std::wstring> texts;
};

// MORVANE_CAPMGR_CONFIG, else HKCU\Software\Morvane\CapMgr value Config;
// empty when neither is set.
std::wstring ConfigurationPlace();

// The document a folder holds for a device: <imei>.xml, else default.xml;
// empty when it holds neither. IMEIs that are not plain file names are not
// used as names.
std::wstring FolderDocument(const std::wstring& folder, const wchar_t* imei);

// Documents larger than this are refused.
constexpr DWORD kMaxDocumentBytes = 16 * 1024 * 1024;

// Reads the document's file on every query but parses it again only when its
// content changed; not thread-safe.
class ConfigStore {
public:
    Selection Select(const wchar_t* imei, BSTR expression);

private:
    bool Load(const std::wstring& path, Selection& out);

    std::string m_content;
    com::ComPtr<IXMLDOMDocument2> m_document;
};

} // namespace capmgr
