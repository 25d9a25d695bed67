// A new, empty folder with a unique name under the user's temporary folder,
// removed with everything in it when the object is destroyed. Holds the local
// image of a streamed phone file.
#pragma once

#include <string>

class CUniqueTempDir {
public:
    // Throws false (bool) when the temporary folder cannot be found or the
    // new folder cannot be made; nothing is left behind then.
    CUniqueTempDir();
    ~CUniqueTempDir();

    CUniqueTempDir(const CUniqueTempDir&) = delete;
    CUniqueTempDir& operator=(const CUniqueTempDir&) = delete;

    // The folder, ending with a backslash.
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
