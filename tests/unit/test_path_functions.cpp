#include <gtest/gtest.h>

#include <string>

#include "objects/PathFunctions.h"

namespace {

struct Split { HRESULT hr; std::wstring parent, name; };

Split split(const wchar_t* path) {
    Split s{E_UNEXPECTED, L"untouched", L"untouched"};
    s.hr = SplitPath(path, s.parent, s.name);
    return s;
}

std::wstring longPath(size_t length) {
    std::wstring path = L"\\";
    while (path.size() < length) path += L"a";
    return path;
}

} // namespace

TEST(PathFunctionsRoots, TreeRootDriveRootsAndShareRootsAreRoots) {
    for (const wchar_t* root : {L"", L"\\", L"C:", L"C:\\", L"e:\\\\", L"\\\\server\\share"})
        EXPECT_TRUE(IsRootPath(root)) << std::wstring(root);
    for (const wchar_t* notRoot : {L"\\C:", L"\\Data", L"C:\\Data", L"Data", L"1:"})
        EXPECT_FALSE(IsRootPath(notRoot)) << std::wstring(notRoot);
    EXPECT_FALSE(IsRootPath(nullptr));
}

TEST(PathFunctionsSplit, ParentKeepsItsBackslashAndNameIsTheLastComponent) {
    Split s = split(L"\\C:\\Data\\Images\\photo.jpg");
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.parent, L"\\C:\\Data\\Images\\");
    EXPECT_EQ(s.name, L"photo.jpg");

    s = split(L"\\Phone\\Images\\\\");  // every trailing backslash is ignored
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.parent, L"\\Phone\\");
    EXPECT_EQ(s.name, L"Images");

    s = split(L"\\C:");  // a mount point's parent is the tree root
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.parent, L"\\");
    EXPECT_EQ(s.name, L"C:");

    s = split(L"C:\\temp\\x.txt");
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.parent, L"C:\\temp\\");
    EXPECT_EQ(s.name, L"x.txt");
}

TEST(PathFunctionsSplit, RootsAndUnsplittablePathsFailWithoutTouchingTheResults) {
    for (const wchar_t* path : {L"\\", L"", L"C:\\", L"C:", L"name"}) {
        Split s = split(path);
        EXPECT_EQ(s.hr, E_FAIL) << std::wstring(path);
        EXPECT_EQ(s.parent, L"untouched");
        EXPECT_EQ(s.name, L"untouched");
    }
    EXPECT_EQ(split(nullptr).hr, E_INVALIDARG);
}

TEST(PathFunctionsLongPaths, PathsBeyondTheBufferAreRefusedNotTruncated) {
    const std::wstring fits = longPath(kPathBufferChars - 1);
    const std::wstring tooLong = longPath(kPathBufferChars);
    std::wstring parent, name, normalised = L"untouched";

    EXPECT_EQ(SplitPath(fits.c_str(), parent, name), S_OK);
    EXPECT_EQ(name.size(), kPathBufferChars - 2);
    EXPECT_EQ(SplitPath(tooLong.c_str(), parent, name), kPathTooLong);

    EXPECT_EQ(NormalisePath(fits.c_str(), normalised), S_OK);
    EXPECT_EQ(normalised, fits);
    normalised = L"untouched";
    EXPECT_EQ(NormalisePath(tooLong.c_str(), normalised), kPathTooLong);
    EXPECT_EQ(normalised, L"untouched");

    EXPECT_FALSE(IsRootPath(tooLong.c_str()));
    EXPECT_TRUE(IsValidName(std::wstring(kPathBufferChars - 1, L'n').c_str()));
    EXPECT_FALSE(IsValidName(std::wstring(kPathBufferChars, L'n').c_str()));
}

TEST(PathFunctionsNormalise, RunsOfBackslashesCollapseAndNothingElseChanges) {
    std::wstring out;
    ASSERT_EQ(NormalisePath(L"\\\\Phone\\\\\\Images\\", out), S_OK);
    EXPECT_EQ(out, L"\\Phone\\Images\\");
    ASSERT_EQ(NormalisePath(L" a/b\\\\C ", out), S_OK);
    EXPECT_EQ(out, L" a/b\\C ");
    ASSERT_EQ(NormalisePath(L"", out), S_OK);
    EXPECT_EQ(out, L"");
    EXPECT_EQ(NormalisePath(nullptr, out), E_INVALIDARG);
}

TEST(PathFunctionsNames, OrdinaryNamesAreValid) {
    for (const wchar_t* name : {L"photo.jpg", L"a", L"...", L".hidden", L"name with spaces", L"\u00e4\u00f6\u00fc"})
        EXPECT_TRUE(IsValidName(name)) << std::wstring(name);
}

TEST(PathFunctionsNames, NamesThatWouldChangeThePathAreRefused) {
    for (const wchar_t* name : {L"", L".", L"..", L"a\\b", L"a/b", L"a<b", L"a>b", L"C:", L"a\"b", L"a|b", L"a?b",
                                L"a*b", L"a\tb", L"a\nb", L"\x1f"})
        EXPECT_FALSE(IsValidName(name)) << std::wstring(name);
    EXPECT_FALSE(IsValidName(nullptr));
}
