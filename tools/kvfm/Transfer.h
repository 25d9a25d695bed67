// kvfm's commands that change things: transfers between the PC and the phone,
// delete, new folder and rename. Each starts one asynchronous operation
// through the public interfaces and waits for its completion event.
#pragma once

#include <windows.h>

#include <string>

#include "KVFileMgmt.h"

namespace kvfm {

// ReplaceFolder answers.
enum ReplaceFolderAnswer : LONG { kMerge = 1, kMergeAll = 2, kSkip = 3, kAbort = 4 };

struct TransferOptions {
    std::wstring name;           // --name: the name at the destination (empty: the source's)
    LONG replaceFolder = 0;      // --replace; 0: ask on a console, else skip
    int cancelAfter = -1;        // --cancel-after: cancel once progress reaches this percentage
    DWORD timeoutMs = 60000;     // how long an operation may stay silent
};

// Exit codes: 0 when the operation completed with KVFM_OK, else 1.
int Get(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const std::wstring& pcFolder,
        const TransferOptions& options);
int Put(IKVFileMgmt* fileMgmt, const std::wstring& pcPath, const std::wstring& phoneFolder,
        const TransferOptions& options);
// A source starting with \ is on the phone (moved to a PC folder), else on the PC.
int Move(IKVFileMgmt* fileMgmt, const std::wstring& source, const std::wstring& target,
         const TransferOptions& options);
int Remove(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const TransferOptions& options);
int MakeFolder(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const TransferOptions& options);
int Rename(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const std::wstring& newName,
           const TransferOptions& options);

} // namespace kvfm
