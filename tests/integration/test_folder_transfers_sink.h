// What the folder tree transfer tests share: folder trees on the PC read
// and written as relative path -> bytes, and a runner that starts one
// transfer, waits for its completion and proves by a later listing on the
// same worker that nothing more came of it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "KVFileMgmt.h"
#include "PhoneSimKit.h"
#include "com/ComUtil.h"
#include "test_folder_events_sink.h"

namespace treetest {

using com::ComPtr;

using evtest::Advise;
constexpr DISPID kCopyToPc = 3, kMoveToPc = 6, kCopyFolderFromPc = 12, kMoveFolderFromPc = 14,
                 kObjectsListed = 35, kProgress = 42, kFileProgress = 43, kReplaceFile = 44, kReplaceFolder = 45;

using TreeSink = evtest::FolderSink;

// A folder tree below a PC folder: relative path -> bytes; folders end with "\".
using Tree = std::map<std::wstring, std::string>;

inline void ReadTreeInto(const std::wstring& root, const std::wstring& relative, Tree& tree) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[relative + name + L"\\"] = "";
            ReadTreeInto(root, relative + name + L"\\", tree);
        } else {
            tree[relative + name] = phonesim::kit::ReadFileBytes(root + L"\\" + relative + name);
        }
    } while (FindNextFileW(search, &data));
    FindClose(search);
}
inline Tree ReadTree(const std::wstring& root) {
    Tree tree;
    ReadTreeInto(root, L"", tree);
    return tree;
}
// Creates root and the tree below it.
inline void WriteTree(const std::wstring& root, const Tree& tree) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (const auto& [path, bytes] : tree) {
        const std::wstring full = root + L"\\" + path;
        if (path.back() == L'\\') {
            CreateDirectoryW(full.c_str(), nullptr);
        } else {
            // Parents first: the map's order puts "a\b" before "a\b\c" but not every parent is listed.
            for (size_t at = full.find(L'\\', root.size() + 1); at != std::wstring::npos; at = full.find(L'\\', at + 1))
                CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
            phonesim::kit::WriteFileBytes(full, bytes);
        }
    }
}
inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The last components of the tree's files.
inline std::set<std::wstring> FileNames(const Tree& tree) {
    std::set<std::wstring> names;
    for (const auto& entry : tree)
        if (entry.first.back() != L'\\') names.insert(entry.first.substr(entry.first.rfind(L'\\') + 1));
    return names;
}

inline std::wstring PathOf(IUnknown* object) {
    ComPtr<IKVFMObject> item;
    com::UniqueBstr path;
    if (!object || FAILED(object->QueryInterface(IID_IKVFMObject, item.ReceiveVoid())) ||
        FAILED(item->get_Path(path.Receive())))
        return L"<none>";
    return path.c_str();
}

inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// What one transfer gave its sink.
struct Outcome {
    LONG id = 0;
    size_t completions = 0;
    ULONG result = ~0u;
    ComPtr<IDispatch> object;
    std::vector<std::wstring> folderQuestions;
    std::vector<LONG> offered;  // the answer each question arrived with
    size_t fileQuestions = 0;
    std::set<std::wstring> progressNames;
};

// Starts transfers and waits for them; settles through a probe folder whose
// listing runs on the same worker after the transfer has ended.
class TransferRunner {
public:
    void Attach(IKVFileMgmt* fm, const std::wstring& probePath) {
        m_fm = ComPtr<IKVFileMgmt>(fm);
        m_probe = Folder(probePath);
        m_probeSink = TreeSink::Create();
        if (m_probe) Advise(m_probe.Get(), m_probeSink.Get());
    }
    void Detach() {
        m_probe.Reset();
        m_probeSink.Reset();
        m_fm.Reset();
    }
    ComPtr<IKVFMFolder> Folder(const std::wstring& path) {
        ComPtr<IKVFMFolder> folder;
        com::UniqueBstr p(path.c_str());
        EXPECT_EQ(S_OK, m_fm->CreateFMFolder(p.Get(), folder.Receive())) << Narrow(path);
        return folder;
    }
    void Settle() {
        LONG id = 0;
        ASSERT_TRUE(m_probe);
        ASSERT_EQ(S_OK, m_probe->GetObjectsAsynch(&id));
        ASSERT_TRUE(m_probeSink->WaitFor(id, kObjectsListed));
    }
    // start draws the transaction id; sink may be null (then only settled).
    Outcome Run(TreeSink* sink, DISPID completion, const std::function<HRESULT(LONG*)>& start) {
        Outcome out;
        EXPECT_EQ(S_OK, start(&out.id));
        if (sink) {
            EXPECT_TRUE(sink->WaitFor(out.id, completion)) << "no completion for " << out.id;
        }
        Settle();
        if (!sink) return out;
        // Every completion of the transaction, of whatever kind, counts.
        out.completions = sink->Completions(out.id).size();
        const auto completions = sink->Of(out.id, completion);
        if (!completions.empty()) {
            out.result = completions[0].result;
            out.object = completions[0].object;
        }
        for (const auto& e : sink->Of(out.id, kReplaceFolder)) {
            out.folderQuestions.push_back(e.name);
            out.offered.push_back(e.offered);
        }
        out.fileQuestions = sink->Of(out.id, kReplaceFile).size();
        for (const auto& e : sink->Of(out.id, kFileProgress)) out.progressNames.insert(e.name);
        return out;
    }

private:
    ComPtr<IKVFileMgmt> m_fm;
    ComPtr<IKVFMFolder> m_probe;
    ComPtr<TreeSink> m_probeSink;
};

inline HRESULT FromPc(IKVFMFolder* folder, bool move, const std::wstring& source, const wchar_t* name, LONG* id) {
    com::UniqueBstr s(source.c_str()), n(name);
    return move ? folder->MoveFolderFromPC(s.Get(), n.Get(), id) : folder->CopyFolderFromPC(s.Get(), n.Get(), id);
}
inline HRESULT ToPc(IKVFMFolder* folder, bool move, const std::wstring& pcFolder, const wchar_t* name, LONG* id) {
    com::UniqueBstr f(pcFolder.c_str()), n(name);
    return move ? folder->MoveToPC(f.Get(), n.Get(), id) : folder->CopyToPC(f.Get(), n.Get(), id);
}

} // namespace treetest
