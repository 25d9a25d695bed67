// Iterator over the files and the subfolders of one folder of the PC file
// system. Both Next calls return 0 with an item, 1 at the end and a failing
// HRESULT on error; after the end the next call starts over.
#pragma once

#include <windows.h>
#include <oleauto.h>

class CFolderListPC {
public:
    CFolderListPC();
    ~CFolderListPC();
    CFolderListPC(const CFolderListPC&) = delete;
    CFolderListPC& operator=(const CFolderListPC&) = delete;

    // Sets the folder and checks that it can be listed. 0 on success; else
    // *errorCode is the Win32 error and the result E_FAIL, or 0x800700CE for a
    // path too long for the search pattern.
    HRESULT GetFolderList(const wchar_t* path, DWORD* errorCode);

    // The bare name of the next subfolder ("." and ".." left out) or file, as
    // a new BSTR owned by the caller.
    HRESULT GetNextFolderName(BSTR* name, DWORD* errorCode);
    HRESULT GetNextFileName(BSTR* name, DWORD* errorCode);

    // The next Next calls start both enumerations from the beginning.
    void Restart();

private:
    HRESULT getNext(bool folders, BSTR* name, DWORD* errorCode);
    void closeSearch(bool folders);

    wchar_t m_szSearchPattern[MAX_PATH];
    HANDLE m_hFileSearch = nullptr;
    HANDLE m_hFolderSearch = nullptr;
    bool m_bFirstFileCall = true;
    bool m_bFirstFolderCall = true;
};
