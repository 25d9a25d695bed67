#include "Transfer.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "ComSupport.h"
#include "Console.h"
#include "FolderEventSink.h"
#include "Text.h"

namespace kvfm {

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1 };

// How often the wait looks at the clock to tell a silent operation.
const DWORD kWaitSliceMs = 250;

// Shared with the event handlers, which may still run on Morvane's threads
// for a moment after the command stopped listening.
struct OperationState {
    std::atomic<LONG> transactionId{0};  // 0 until the starting call returned
    std::atomic<ULONGLONG> lastActivity{0};
    std::atomic<bool> asking{false};     // a question is waiting for the user
    std::atomic<bool> cancelSent{false};
    std::mutex lock;
    std::wstring skippedUnasked;         // a folder skipped because nobody could be asked
    std::wstring subject;                // shown for progress that names no file
    TransferOptions options;

    bool Ours(LONG id) const {
        const LONG expected = transactionId.load();
        return expected == 0 || expected == id;
    }
    void Touch() { lastActivity = GetTickCount64(); }
};

struct Operation {
    std::string what;           // "copy 'X' to 'Y'", for messages
    IUnknown* eventSource;      // the object whose operation it is
    DISPID completionEvent;
    std::function<HRESULT(LONG*)> start;
    std::wstring subject;
    // The path to show on success when the completion carries no object.
    std::function<std::string()> resultPath;
};

int Fail(const std::string& message) {
    Console::Get().Err("kvfm: " + message);
    return kExitFailed;
}

std::string Quoted(const std::wstring& text) {
    return "'" + Utf8(text) + "'";
}

// A call refused before any transaction started.
int Refused(const std::string& what, HRESULT hr) {
    if (hr == E_ACCESSDENIED)
        return Fail("cannot " + what + ": the phone's configuration forbids this operation there (" + DescribeHr(hr) +
                    ")");
    if (hr == E_INVALIDARG)
        return Fail("cannot " + what + ": the service refuses a name or path as invalid (" + DescribeHr(hr) + ")");
    if (hr == E_NOTIMPL)
        return Fail("cannot " + what + ": the service does not support this on that object (" + DescribeHr(hr) + ")");
    return Fail("cannot " + what + ": " + DescribeHr(hr));
}

LONG AskReplaceFolder(const std::wstring& name) {
    for (;;) {
        switch (Console::Get().Ask("Folder " + Quoted(name) +
                                   " exists on the PC: [m]erge, merge [a]ll, [s]kip, a[b]ort?")) {
        case 0: return kSkip;  // the input ended
        case L'm': return kMerge;
        case L'a': return kMergeAll;
        case L's': return kSkip;
        case L'b': return kAbort;
        default: break;
        }
    }
}

// ReplaceFile answers: 1 replaces, 3 abandons the file's transfer.
LONG AskReplaceFile(const std::wstring& name) {
    for (;;) {
        switch (Console::Get().Ask("File " + Quoted(name) + " exists: [r]eplace, a[b]ort?")) {
        case 0: return 3;
        case L'r': return 1;
        case L'b': return 3;
        default: break;
        }
    }
}

std::string CompletedObjectPath(const FolderEventSink::Completion& done) {
    if (!done.object) return {};
    ComPtr<IKVFMObject> object;
    Bstr path;
    if (FAILED(done.object.As(IID_IKVFMObject, object)) || FAILED(object->get_Path(path.Put()))) return {};
    return Utf8(path.Str());
}

// Starts the operation with a sink on its events, shows its progress,
// answers its questions and reports its completion.
int Run(const Operation& op, const TransferOptions& options) {
    auto state = std::make_shared<OperationState>();
    state->subject = op.subject;
    state->options = options;
    state->Touch();

    ComPtr<FolderEventSink> sink = FolderEventSink::Create();
    sink->SetProgressHandler([state](const FolderEventSink::Progress& p) {
        if (!state->Ours(p.transactionId)) return false;
        state->Touch();
        if (p.event == evFileProgress) Console::Get().FileProgress(p.fileName, p.percent);
        else Console::Get().Progress(p.percent, state->subject);
        if (state->options.cancelAfter >= 0 && p.percent >= state->options.cancelAfter) RequestCancel();
        if (!CancelRequested()) return false;
        state->cancelSent = true;
        return true;
    });
    const bool console = Console::InputIsConsole();
    sink->SetReplaceHandler([state, console](const FolderEventSink::Replace& r, LONG proposed) -> LONG {
        if (!state->Ours(r.transactionId)) return proposed;
        state->asking = true;
        LONG answer;
        if (r.event == evReplaceFolder) {
            if (state->options.replaceFolder) {
                answer = state->options.replaceFolder;
            } else if (console) {
                answer = AskReplaceFolder(r.name);
            } else {
                answer = kSkip;
                std::lock_guard<std::mutex> guard(state->lock);
                if (state->skippedUnasked.empty()) state->skippedUnasked = r.name;
            }
        } else {
            // Nobody to ask: Morvane's own proposal stands.
            answer = console ? AskReplaceFile(r.name) : proposed;
        }
        state->Touch();
        state->asking = false;
        return answer;
    });

    HRESULT hr = sink->Advise(op.eventSource);
    if (FAILED(hr)) return Fail("cannot connect to the events for " + op.what + ": " + DescribeHr(hr));

    LONG transactionId = 0;
    hr = op.start(&transactionId);
    if (FAILED(hr)) {
        sink->UnadviseAll();
        return Refused(op.what, hr);
    }
    state->transactionId = transactionId;

    FolderEventSink::Completion done;
    for (;;) {
        hr = sink->WaitForCompletion(transactionId, kWaitSliceMs, done);
        if (hr != HRESULT_FROM_WIN32(ERROR_TIMEOUT)) break;
        if (state->asking) state->Touch();
        else if (GetTickCount64() - state->lastActivity.load() >= options.timeoutMs) break;
    }
    sink->UnadviseAll();
    Console::Get().EndProgress();

    if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f", options.timeoutMs / 1000.0);
        return Fail("no completion for " + op.what + " (transaction " + std::to_string(transactionId) +
                    "): nothing happened for " + seconds + " s");
    }
    if (FAILED(hr)) return Fail("waiting for " + op.what + " failed: " + DescribeHr(hr));
    if (done.event != op.completionEvent) {
        return Fail("transaction " + std::to_string(transactionId) + " of " + op.what + " ended with event " +
                    std::to_string(done.event) + ", not " + std::to_string(op.completionEvent));
    }
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (!state->skippedUnasked.empty())
            Console::Get().Err("kvfm: the folder " + Quoted(state->skippedUnasked) +
                               " exists on the PC and was skipped (no console to ask on; see --replace)");
    }
    if (done.result != 0) {
        std::string line = "failed: " + OpResultWords(done.result);
        if (state->cancelSent) line += " (cancel requested)";
        Console::Get().Err(line);
        return kExitFailed;
    }
    std::string created = CompletedObjectPath(done);
    if (created.empty() && op.resultPath) created = op.resultPath();
    Console::Get().Out("done: KVFM_OK" + (created.empty() ? std::string() : " -> " + created));
    return kExitOk;
}

// A phone path names a file or a folder; a trailing backslash only a folder.
int OpenPhoneObject(IKVFileMgmt* fileMgmt, const std::wstring& path, ComPtr<IKVFMObject>& object, long& type) {
    Bstr bpath(path);
    ComPtr<IKVFMFolder> folder;
    const HRESULT hrFolder = fileMgmt->CreateFMFolder(bpath.Get(), folder.Put());
    if (SUCCEEDED(hrFolder) && folder) {
        object = ComPtr<IKVFMObject>(folder.Get());
    } else {
        ComPtr<IKVFMFile> file;
        const HRESULT hrFile = path.back() == L'\\' ? hrFolder : fileMgmt->CreateFMFile(bpath.Get(), file.Put());
        if (FAILED(hrFile) || !file) {
            const HRESULT hr = FAILED(hrFile) ? hrFile : E_POINTER;
            return Fail("cannot open " + Quoted(path) + ": " + DescribeHr(hr));
        }
        object = ComPtr<IKVFMObject>(file.Get());
    }
    const HRESULT hr = object->get_Type(&type);
    if (FAILED(hr)) return Fail("cannot read the type of " + Quoted(path) + ": " + DescribeHr(hr));
    return kExitOk;
}

int OpenPhoneFolder(IKVFileMgmt* fileMgmt, const std::wstring& path, ComPtr<IKVFMFolder>& folder) {
    Bstr bpath(path);
    const HRESULT hr = fileMgmt->CreateFMFolder(bpath.Get(), folder.Put());
    if (FAILED(hr) || !folder) return Fail("cannot open the phone folder " + Quoted(path) + ": " +
                                           DescribeHr(FAILED(hr) ? hr : E_POINTER));
    return kExitOk;
}

// The full PC path; attributes INVALID_FILE_ATTRIBUTES when nothing is there.
std::wstring FullPcPath(const std::wstring& path, DWORD& attributes) {
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(path.c_str(), ARRAYSIZE(full), full, nullptr);
    std::wstring result = n && n < ARRAYSIZE(full) ? std::wstring(full, n) : path;
    attributes = GetFileAttributesW(result.c_str());
    return result;
}

int OpenPcFolder(const std::wstring& path, std::wstring& full) {
    DWORD attributes = 0;
    full = FullPcPath(path, attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("no folder " + Quoted(path) + " on the PC");
    return kExitOk;
}

std::wstring NameOf(IKVFMObject* object) {
    Bstr name;
    if (FAILED(object->get_Name(name.Put()))) return {};
    return name.Str();
}

std::wstring LastComponent(const std::wstring& path) {
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
    const size_t slash = trimmed.find_last_of(L"\\/");
    return slash == std::wstring::npos ? trimmed : trimmed.substr(slash + 1);
}

// Null for "keep the source's name".
BSTR NameArgument(const Bstr& name) {
    return SysStringLen(name.Get()) ? name.Get() : nullptr;
}

int ToPc(IKVFileMgmt* fileMgmt, bool move, const std::wstring& phonePath, const std::wstring& pcFolder,
         const TransferOptions& options) {
    ComPtr<IKVFMObject> object;
    long type = 0;
    int rc = OpenPhoneObject(fileMgmt, phonePath, object, type);
    if (rc != kExitOk) return rc;
    std::wstring full;
    rc = OpenPcFolder(pcFolder, full);
    if (rc != kExitOk) return rc;

    auto pc = std::make_shared<Bstr>(full);
    auto name = std::make_shared<Bstr>(options.name);
    IKVFMObject* o = object.Get();
    Operation op;
    op.what = std::string(move ? "move " : "copy ") + Quoted(phonePath) + " to " + Quoted(full);
    op.eventSource = o;
    op.completionEvent = move ? evMoveToPCCompleted : evCopyToPCCompleted;
    op.subject = options.name.empty() ? NameOf(o) : options.name;
    op.start = [=](LONG* id) {
        return move ? o->MoveToPC(pc->Get(), NameArgument(*name), id) : o->CopyToPC(pc->Get(), NameArgument(*name), id);
    };
    return Run(op, options);
}

int FromPc(IKVFileMgmt* fileMgmt, bool move, const std::wstring& pcPath, const std::wstring& phoneFolder,
           const TransferOptions& options) {
    DWORD attributes = 0;
    const std::wstring full = FullPcPath(pcPath, attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail("no file or folder " + Quoted(pcPath) + " on the PC");
    ComPtr<IKVFMFolder> folder;
    int rc = OpenPhoneFolder(fileMgmt, phoneFolder, folder);
    if (rc != kExitOk) return rc;

    const bool tree = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    auto source = std::make_shared<Bstr>(full);
    auto name = std::make_shared<Bstr>(options.name);
    IKVFMFolder* f = folder.Get();
    Operation op;
    op.what = std::string(move ? "move " : "copy ") + Quoted(full) + " to " + Quoted(phoneFolder);
    op.eventSource = f;
    op.subject = options.name.empty() ? LastComponent(full) : options.name;
    if (tree) {
        op.completionEvent = move ? evMoveFolderFromPCCompleted : evCopyFolderFromPCCompleted;
        op.start = [=](LONG* id) {
            return move ? f->MoveFolderFromPC(source->Get(), NameArgument(*name), id)
                        : f->CopyFolderFromPC(source->Get(), NameArgument(*name), id);
        };
    } else {
        op.completionEvent = move ? evMoveFileFromPCCompleted : evCopyFileFromPCCompleted;
        op.start = [=](LONG* id) {
            return move ? f->MoveFileFromPC(source->Get(), NameArgument(*name), id)
                        : f->CopyFileFromPC(source->Get(), NameArgument(*name), id);
        };
    }
    return Run(op, options);
}

} // namespace

int Get(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const std::wstring& pcFolder,
        const TransferOptions& options) {
    return ToPc(fileMgmt, false, phonePath, pcFolder, options);
}

int Put(IKVFileMgmt* fileMgmt, const std::wstring& pcPath, const std::wstring& phoneFolder,
        const TransferOptions& options) {
    return FromPc(fileMgmt, false, pcPath, phoneFolder, options);
}

int Move(IKVFileMgmt* fileMgmt, const std::wstring& source, const std::wstring& target,
         const TransferOptions& options) {
    if (!source.empty() && source[0] == L'\\') return ToPc(fileMgmt, true, source, target, options);
    return FromPc(fileMgmt, true, source, target, options);
}

int Remove(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const TransferOptions& options) {
    ComPtr<IKVFMObject> object;
    long type = 0;
    const int rc = OpenPhoneObject(fileMgmt, phonePath, object, type);
    if (rc != kExitOk) return rc;
    IKVFMObject* o = object.Get();
    Operation op;
    op.what = "delete " + Quoted(phonePath);
    op.eventSource = o;
    op.completionEvent = evDeleteCompleted;
    op.subject = NameOf(o);
    op.start = [o](LONG* id) { return o->Delete(id); };
    return Run(op, options);
}

int MakeFolder(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const TransferOptions& options) {
    std::wstring trimmed = phonePath;
    while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
    const size_t slash = trimmed.rfind(L'\\');
    if (trimmed.empty() || slash == std::wstring::npos)
        return Fail("cannot create " + Quoted(phonePath) + ": it names no folder below the root");
    const std::wstring parentPath = trimmed.substr(0, slash + 1);
    auto name = std::make_shared<Bstr>(trimmed.substr(slash + 1));
    ComPtr<IKVFMFolder> parent;
    const int rc = OpenPhoneFolder(fileMgmt, parentPath, parent);
    if (rc != kExitOk) return rc;
    IKVFMFolder* p = parent.Get();
    Operation op;
    op.what = "create the folder " + Quoted(phonePath);
    op.eventSource = p;
    op.completionEvent = evNewFolderCompleted;
    op.subject = name->Str();
    op.start = [p, name](LONG* id) { return p->NewFolder(name->Get(), id); };
    return Run(op, options);
}

int Rename(IKVFileMgmt* fileMgmt, const std::wstring& phonePath, const std::wstring& newName,
           const TransferOptions& options) {
    ComPtr<IKVFMObject> object;
    long type = 0;
    const int rc = OpenPhoneObject(fileMgmt, phonePath, object, type);
    if (rc != kExitOk) return rc;
    IKVFMObject* o = object.Get();
    auto name = std::make_shared<Bstr>(newName);
    Operation op;
    op.what = "rename " + Quoted(phonePath) + " to " + Quoted(newName);
    op.eventSource = o;
    op.completionEvent = evRenameCompleted;
    op.subject = NameOf(o);
    op.start = [o, name](LONG* id) { return o->Rename(name->Get(), id); };
    op.resultPath = [o]() {
        Bstr path;
        return SUCCEEDED(o->get_Path(path.Put())) ? Utf8(path.Str()) : std::string();
    };
    return Run(op, options);
}

} // namespace kvfm
