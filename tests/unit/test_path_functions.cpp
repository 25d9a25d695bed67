// Path functions: roots, splitting, normalising and names, table by table.
#include <gtest/gtest.h>

#include <string>

#include "objects/PathFunctions.h"

namespace {

std::wstring Long(size_t length) { return L"\\" + std::wstring(length - 1, L'a'); }

TEST(PathFunctions, RootsAndValidNames) {
    for (const wchar_t* root : {L"", L"\\", L"C:", L"C:\\", L"e:\\\\", L"\\\\server\\share"})
        EXPECT_TRUE(IsRootPath(root)) << std::wstring(root);
    for (const wchar_t* notRoot : {L"\\C:", L"\\Data", L"C:\\Data", L"Data", L"1:"})
        EXPECT_FALSE(IsRootPath(notRoot)) << std::wstring(notRoot);
    EXPECT_FALSE(IsRootPath(nullptr));
    EXPECT_FALSE(IsRootPath(Long(kPathBufferChars).c_str()));

    for (const wchar_t* name : {L"photo.jpg", L"a", L"...", L".hidden", L"name with spaces", L"\u00e4\u00f6\u00fc"})
        EXPECT_TRUE(IsValidName(name)) << std::wstring(name);
    // Names that would change the path.
    for (const wchar_t* name : {L"", L".", L"..", L"a\\b", L"a/b", L"a<b", L"a>b", L"C:", L"a\"b", L"a|b", L"a?b",
                                L"a*b", L"a\tb", L"a\nb", L"\x1f"})
        EXPECT_FALSE(IsValidName(name)) << std::wstring(name);
    EXPECT_FALSE(IsValidName(nullptr));
    EXPECT_TRUE(IsValidName(std::wstring(kPathBufferChars - 1, L'n').c_str()));
    EXPECT_FALSE(IsValidName(std::wstring(kPathBufferChars, L'n').c_str()));
}

TEST(PathFunctions, SplitKeepsTheParentsBackslashAndRefusesWhatItCannotSplit) {
    struct Case { const wchar_t* path; HRESULT hr; std::wstring parent, name; };
    const std::wstring fits = Long(kPathBufferChars - 1), tooLong = Long(kPathBufferChars);
    const Case cases[] = {
        {L"\\C:\\Data\\Images\\photo.jpg", S_OK, L"\\C:\\Data\\Images\\", L"photo.jpg"},
        {L"\\Phone\\Images\\\\", S_OK, L"\\Phone\\", L"Images"},  // every trailing backslash is ignored
        {L"\\C:", S_OK, L"\\", L"C:"},                            // a mount point's parent is the tree root
        {L"C:\\temp\\x.txt", S_OK, L"C:\\temp\\", L"x.txt"},
        {fits.c_str(), S_OK, L"\\", fits.substr(1)},
        {tooLong.c_str(), kPathTooLong, L"untouched", L"untouched"},  // refused, not truncated
        {L"\\", E_FAIL, L"untouched", L"untouched"}, {L"", E_FAIL, L"untouched", L"untouched"},
        {L"C:\\", E_FAIL, L"untouched", L"untouched"}, {L"C:", E_FAIL, L"untouched", L"untouched"},
        {L"name", E_FAIL, L"untouched", L"untouched"}, {nullptr, E_INVALIDARG, L"untouched", L"untouched"},
    };
    for (const Case& c : cases) {
        std::wstring parent = L"untouched", name = L"untouched";
        EXPECT_EQ(c.hr, SplitPath(c.path, parent, name)) << (c.path ? std::wstring(c.path) : L"(null)");
        if (c.hr == kPathTooLong) continue;  // what it leaves is not part of the contract
        EXPECT_EQ(c.parent, parent);
        EXPECT_EQ(c.name, name);
    }
}

TEST(PathFunctions, NormaliseCollapsesRunsOfBackslashesAndNothingElse) {
    const std::wstring fits = Long(kPathBufferChars - 1);
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"\\\\Phone\\\\\\Images\\", L"\\Phone\\Images\\"}, {L" a/b\\\\C ", L" a/b\\C "}, {L"", L""}, {fits.c_str(), fits}};
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_EQ(S_OK, NormalisePath(c.first, out));
        EXPECT_EQ(c.second, out);
    }
    std::wstring out = L"untouched";
    EXPECT_EQ(kPathTooLong, NormalisePath(Long(kPathBufferChars).c_str(), out));
    EXPECT_EQ(E_INVALIDARG, NormalisePath(nullptr, out));
    EXPECT_EQ(L"untouched", out);
}

} // namespace
