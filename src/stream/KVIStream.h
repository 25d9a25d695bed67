// A phone file read as a COM stream. The first read starts copying the whole
// file into a local image in a folder of its own, on a thread of its own; every
// read is served from that image as it grows and waits only for the bytes it
// needs (or for the end of the copy).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <memory>
#include <string>

#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "operations/AsynchOperation.h"
#include "operations/AsynchOperationExecutor.h"
#include "operations/Callbacks.h"
#include "stream/UniqueTempDir.h"

class FMObjectImpl;

// How a copy tells its stream about new bytes and about its end: two
// auto-reset events, shared because the copy may outlive the stream.
struct StreamCopySignals {
    com::UniqueHandle progress;
    com::UniqueHandle finished;
    // The image size a waiting reader needs, 0 while none waits. Progress is
    // signalled only once the image has reached it: a wake-up per copied
    // piece costs more than the piece's copy.
    std::atomic<ULONGLONG> wanted{0};
    // Null when the events cannot be made.
    static std::shared_ptr<StreamCopySignals> Create();
};

// Copies one phone file into a fresh temporary folder. Owns a thread that
// serves exactly this copy: the storage layer's wait object signals that
// thread, and the copy is waited for there. Started by thread message 0x402
// whose lParam is the operation's IAsynchOperation with one reference, which
// the thread drops once the copy has ended; the temporary folder and the
// image go with the last reference.
class CCopyFileToPC : public CAsynchOperation, public CAsynchOperationExecutor {
public:
    static constexpr UINT kStartCopyMessage = WM_USER + 2;  // 0x402

    BEGIN_COM_MAP(CCopyFileToPC)
        COM_INTERFACE_ENTRY(IAsynchOperation)
        COM_INTERFACE_ENTRY2(IDispatch, IAsynchOperation)
    END_COM_MAP()

    CCopyFileToPC();
    ~CCopyFileToPC() override;

    // Makes the temporary folder: E_OUTOFMEMORY when it cannot be made.
    HRESULT FinalConstruct();
    // Waits for the thread (unless on it), then removes the folder.
    void FinalRelease();

    // The local image is the folder plus the file's name; starts the thread.
    HRESULT Initialize(std::shared_ptr<StreamCopySignals> signals, FMObjectImpl* file);

    // On the copy thread: the whole copy, from start to end.
    STDMETHOD(Execute)() override;

    // Any thread: the copy is cancelled at its next progress report.
    void RequestAbort() { m_bAbortRequested.store(true); }
    bool AbortRequested() const { return m_bAbortRequested.load(); }
    // Set together, before the finished event.
    bool Finished() const { return m_bFinished.load(); }
    LONG Result() const { return m_lResult.load(); }
    const std::wstring& LocalPath() const { return m_localPath; }

protected:
    void ThreadMethod() override;

private:
    HRESULT copy(LONG* result);
    void finish(LONG result);

    std::unique_ptr<CUniqueTempDir> m_pTempDir;
    std::wstring m_localPath;
    std::shared_ptr<StreamCopySignals> m_signals;
    std::atomic<bool> m_bAbortRequested{false};
    std::atomic<bool> m_bFinished{false};
    std::atomic<LONG> m_lResult{0};
};

// Runs on the thread that reports the phone's progress: wakes a waiting
// reader, and cancels the copy once its stream is gone.
class CStreamFileToPcProgressCallbackFunction : public CProgressCallbackFunctionBase {
public:
    CStreamFileToPcProgressCallbackFunction(const CCopyFileToPC* operation, StreamCopySignals* signals)
        : m_pOperation(operation), m_pSignals(signals) {}
    HRESULT Invoke(const wchar_t* path, short percent, short* cancel) override;

private:
    // Whether the image holds the bytes a waiting reader needs.
    bool reachedWanted();

    const CCopyFileToPC* m_pOperation;  // not owned; outlives the copy
    StreamCopySignals* m_pSignals;      // not owned; outlives the copy
    com::UniqueHandle m_hImage;         // opened once the image exists
};

// The image's folder is new, so an existing target is not ours: abort.
class CStreamFileToPcReplaceCallbackFunction : public CReplaceCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t* path, DATE date1, ULONG size1, DATE date2, ULONG size2, long* answer) override;
};

class CKVIStream : public com::ComObjectRoot<com::MultiThreadModel>, public IStream {
public:
    BEGIN_COM_MAP(CKVIStream)
        COM_INTERFACE_ENTRY(IStream)
        COM_INTERFACE_ENTRY2(ISequentialStream, IStream)
    END_COM_MAP()

    CKVIStream();
    ~CKVIStream();

    // The events; E_OUTOFMEMORY when they cannot be made.
    HRESULT FinalConstruct();
    // Asks a running copy to stop; the copy cleans up after itself.
    void FinalRelease();

    // ISequentialStream
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* written) override;
    // IStream
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream* destination, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                      ULARGE_INTEGER* written) override;
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream** stream) override;
    // Own slots after IStream.
    STDMETHOD(RemoteSeek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition);
    STDMETHOD(RemoteCopyTo)(IStream* destination, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                            ULARGE_INTEGER* written);
    // file: the file object's inner part; the file object is held until the
    // stream goes. A second call changes nothing.
    virtual HRESULT Init(FMObjectImpl* file);

private:
    // All under m_streamLock.
    HRESULT startCopy();
    // Waits until the image holds end bytes or the copy has ended; *size is
    // the image's size then. A failed copy: the HRESULT of its result.
    HRESULT waitForImage(ULONGLONG end, ULONGLONG* size);
    // The wait's result; takes no messages.
    DWORD waitForCopySignal();
    // Waits for count bytes at the current position, read after the wait.
    HRESULT waitAtPosition(ULONG count, ULONGLONG* position, ULONGLONG* size);
    // Moves the position past bytes read at from, unless a Seek moved it meanwhile.
    void advance(ULONGLONG from, ULONG got);
    // 0 while the image does not exist yet.
    ULONGLONG imageSize();
    HRESULT readImage(ULONGLONG position, void* buffer, ULONG count, ULONG* got);

    FMObjectImpl* m_pFile = nullptr;        // kept alive by m_pFileReference
    com::ComPtr<IUnknown> m_pFileReference; // the file object
    std::shared_ptr<StreamCopySignals> m_signals;
    com::CriticalSection m_streamLock;      // serialises Read and CopyTo
    std::atomic<ULONGLONG> m_position{0};
    bool m_bCopyFinished = false;           // a reader saw the copy end
    com::ComPtr<IAsynchOperation> m_pCopyOperation;
    CCopyFileToPC* m_pCopy = nullptr;       // kept alive by m_pCopyOperation
    std::wstring m_imagePath;
    com::UniqueHandle m_hImage;             // opened once the image exists
};
