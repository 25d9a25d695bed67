#include "stream/KVIStream.h"

#include <comdef.h>

#include <algorithm>
#include <new>
#include <vector>

#include "connector/StorageObject.h"
#include "module/Utilities.h"
#include "objects/FMObjectImpl.h"
#include "objects/PathFunctions.h"

namespace {

LONG AsLong(KVFMOpResult result) { return static_cast<LONG>(static_cast<ULONG>(result)); }

// CopyTo moves the bytes through a buffer of at most this size.
constexpr ULONG kCopyToChunk = 1u << 20;

} // namespace

std::shared_ptr<StreamCopySignals> StreamCopySignals::Create() {
    try {
        auto signals = std::make_shared<StreamCopySignals>();
        signals->progress.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        signals->finished.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (signals->progress && signals->finished) return signals;
        LOG_ERROR << "Unable to create the stream's events, error " << GetLastError();
    } catch (...) {
        LOG_ERROR << "No memory for the stream's events";
    }
    return nullptr;
}

// ---- CCopyFileToPC ----

CCopyFileToPC::CCopyFileToPC() = default;

CCopyFileToPC::~CCopyFileToPC() = default;

HRESULT CCopyFileToPC::FinalConstruct() {
    try {
        m_pTempDir.reset(new CUniqueTempDir());
    } catch (...) {
        // The folder's own failures are thrown as values; all of them mean no room for the image.
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CCopyFileToPC::FinalRelease() {
    // The image may still be written until the thread is done with the copy.
    Stop();
    m_pTempDir.reset();
}

HRESULT CCopyFileToPC::Initialize(std::shared_ptr<StreamCopySignals> signals, FMObjectImpl* file) {
    LOG_TRACE << "Enter";
    if (!signals || !file || !m_pTempDir) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    com::UniqueBstr name;
    HRESULT hr = file->get_Name(name.Receive());
    if (FAILED(hr)) return hr;
    // The name decides where the image goes: one plain component only.
    if (!IsValidName(name.Get())) {
        LOG_ERROR << "The file has no name usable on the PC: " << name.c_str();
        return E_INVALIDARG;
    }
    std::wstring localPath = m_pTempDir->Path() + name.c_str();
    if (localPath.size() >= MAX_PATH) {
        LOG_ERROR << "Local image path too long: " << localPath;
        return kPathTooLong;
    }
    m_localPath = std::move(localPath);
    InitCommon(0, file, file->GetConnector(), this);
    m_signals = std::move(signals);
    LOG_DEBUG << "Local image will be " << m_localPath;
    // Returns once the thread has its message queue, so 0x402 can be posted at once.
    return CAsynchOperationExecutor::Initialize();
}

void CCopyFileToPC::ThreadMethod() {
    // Touches no member: the start message's reference may be the last one,
    // and the object may be gone as soon as it is dropped.
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) != -1) {
        if (msg.message == kStartCopyMessage) {
            LOG_DEBUG << "Begin execution of CCopyFileToPC.";
            auto operation = com::ComPtr<IAsynchOperation>::Adopt(reinterpret_cast<IAsynchOperation*>(msg.lParam));
            HRESULT hr = E_POINTER;
            if (operation) {
                try {
                    hr = operation->Execute();
                } catch (...) {
                    hr = E_UNEXPECTED;
                }
            }
            if (FAILED(hr)) {
                LOG_ERROR << "Failed to start executing operation.";
            }
            LOG_DEBUG << "Finished executing Asynch Operation. Exiting thread";
            return;  // the operation's reference goes here
        }
        if (msg.message != kWaitObjectSignalMessage) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (StopRequested()) {
            // Only the last reference stops the thread, so no start message can be queued.
            LOG_DEBUG << "Stop requested, exiting thread message loop.";
            return;
        }
    }
    LOG_DEBUG << "Exiting thread message loop.";
}

STDMETHODIMP CCopyFileToPC::Execute() {
    LOG_TRACE << "Enter";
    LONG result = AsLong(KVFM_E_FAILED);
    HRESULT hr = E_FAIL;
    try {
        hr = copy(&result);
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
        result = AsLong(KVFM_E_FAILED);
    }
    // Every path ends here, so a waiting reader always wakes.
    finish(result);
    LOG_TRACE << "Exit";
    return hr;
}

HRESULT CCopyFileToPC::copy(LONG* result) {
    if (m_bAbortRequested.load()) {
        LOG_DEBUG << "The stream went away before its copy began.";
        *result = AsLong(KVFM_ABORTED);
        return S_OK;
    }
    if (TargetDisconnected()) {
        *result = AsLong(KVFM_E_DISCONNECTED);
        return E_FAIL;
    }
    // Declared before the wait object, which calls them until it is destroyed.
    std::unique_ptr<CStreamFileToPcProgressCallbackFunction> progress(
        new CStreamFileToPcProgressCallbackFunction(this, m_signals.get()));
    std::unique_ptr<CStreamFileToPcReplaceCallbackFunction> replace(new CStreamFileToPcReplaceCallbackFunction());

    CFile* file = m_pTarget ? dynamic_cast<CFile*>(m_pTarget->GetStorageObject()) : nullptr;
    if (!file) {
        LOG_ERROR << "Cannot copy file to temp destination";
        return E_FAIL;
    }
    CCopyFileWaitObject* raw = nullptr;
    HRESULT hr = file->CopyFileToPC(this, _bstr_t(m_localPath.c_str()), &raw, progress.get(), replace.get());
    // A failed start hands nothing over.
    std::unique_ptr<CCopyFileWaitObject> wait(SUCCEEDED(hr) ? raw : nullptr);
    if (FAILED(hr) || !wait) {
        LOG_ERROR << "Unable to copy file to PC";
        *result = AsLong(kvFmResultFromHresult(FAILED(hr) ? hr : E_FAIL));
        return E_FAIL;
    }
    *result = WaitForCopyResult(m_pTarget, wait.get());
    return S_OK;
}

void CCopyFileToPC::finish(LONG result) {
    m_lResult.store(result);
    m_bFinished.store(true);
    LOG_DEBUG << "Local image " << m_localPath << " done, result=0x" << LogHex(result);
    if (m_signals) SetEvent(m_signals->finished.Get());
}

HRESULT CStreamFileToPcProgressCallbackFunction::Invoke(const wchar_t* path, short percent, short* cancel) {
    LOG_DEBUG << "CStreamFileToPcProgressCallbackFunction: " << (path ? path : L"") << " " << percent << "%";
    short answer = 0;
    if (m_pOperation && m_pOperation->AbortRequested()) {
        answer = 1;
        LOG_DEBUG << "Cancel has been pressed.";
    }
    if (cancel) *cancel = answer;
    if (reachedWanted()) SetEvent(m_pSignals->progress.Get());
    return S_OK;
}

bool CStreamFileToPcProgressCallbackFunction::reachedWanted() {
    const ULONGLONG wanted = m_pSignals->wanted.load();
    if (wanted == 0) return false;
    if (!m_hImage) {
        m_hImage.Reset(CreateFileW(m_pOperation->LocalPath().c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        // Not there yet: let the reader look for itself.
        if (!m_hImage) return true;
    }
    LARGE_INTEGER size;
    return !GetFileSizeEx(m_hImage.Get(), &size) || static_cast<ULONGLONG>(size.QuadPart) >= wanted;
}

HRESULT CStreamFileToPcReplaceCallbackFunction::Invoke(const wchar_t*, DATE, ULONG, DATE, ULONG, long* answer) {
    LOG_DEBUG << "CStreamFileToPcReplaceCallbackFunction operation aborted.";
    if (answer) *answer = 3;
    return S_OK;
}

// ---- CKVIStream ----

CKVIStream::CKVIStream() = default;

CKVIStream::~CKVIStream() = default;

HRESULT CKVIStream::FinalConstruct() {
    m_signals = StreamCopySignals::Create();
    return m_signals ? S_OK : E_OUTOFMEMORY;
}

void CKVIStream::FinalRelease() {
    if (m_pCopy && !m_pCopy->Finished()) {
        m_pCopy->RequestAbort();
        LOG_DEBUG << "Signalling abort!";
    }
    // Closed first: the image's folder goes with the copy's last reference.
    m_hImage.Reset();
    m_pCopy = nullptr;
    m_pCopyOperation.Reset();
    m_pFile = nullptr;
    m_pFileReference.Reset();
}

HRESULT CKVIStream::Init(FMObjectImpl* file) {
    LOG_TRACE << "Enter";
    if (!file) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (m_pFile) return S_OK;
    com::UniqueBstr path;
    file->get_Path(path.Receive());
    LOG_DEBUG << "Initializing CKVIStream object for device file " << path.c_str();
    m_pFileReference = com::ComPtr<IUnknown>(file->ControllingUnknown());
    m_pFile = file;
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CKVIStream::startCopy() {
    if (m_pCopyOperation) {
        LOG_ERROR << "CopyToPC already called for this object";
        return E_FAIL;
    }
    com::UniqueBstr source;
    HRESULT hr = m_pFile->get_Path(source.Receive());
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get the path to the source file.";
        return hr;
    }
    com::ComObject<CCopyFileToPC>* object = nullptr;
    hr = com::ComObject<CCopyFileToPC>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Could not create instance of CCopyFileToPC.";
        return hr;
    }
    // Held from here on: any failure below releases the copy, its thread and folder.
    com::ComPtr<IAsynchOperation> holder(static_cast<IAsynchOperation*>(object));
    hr = object->Initialize(m_signals, m_pFile);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to initialize CopyToPC operation";
        return hr;
    }
    LOG_DEBUG << "Copying file " << source.c_str() << " to " << object->LocalPath();
    com::ComPtr<IAsynchOperation> operation;
    hr = holder.As(operation, IID_IAsynchOperation);
    if (FAILED(hr) || !operation) {
        LOG_ERROR << "Unable to get IAsynchOperation interface";
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    // The message carries a reference of its own, dropped by the copy thread
    // once the copy has ended: the copy and its folder outlive the stream.
    com::ComPtr<IAsynchOperation> carried(operation);
    if (!PostThreadMessageW(object->GetThreadId(), CCopyFileToPC::kStartCopyMessage, 0,
                            reinterpret_cast<LPARAM>(carried.Get()))) {
        LOG_ERROR << "Could not post threadmessage";
        return E_FAIL;
    }
    carried.Detach();
    m_imagePath = object->LocalPath();
    m_pCopy = object;
    m_pCopyOperation = std::move(operation);
    return S_OK;
}

// No input is taken while waiting: no other call can run on this thread
// inside a Read or CopyTo and find the stream half-way through it.
DWORD CKVIStream::waitForCopySignal() {
    HANDLE handles[] = {m_signals->progress.Get(), m_signals->finished.Get()};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

ULONGLONG CKVIStream::imageSize() {
    if (!m_hImage) {
        // Others may write and remove it: the phone's copy is still at work.
        m_hImage.Reset(CreateFileW(m_imagePath.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_hImage) {
            m_hImage.Reset();
            LOG_DEBUG << "Cannot open file " << m_imagePath;
            return 0;
        }
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hImage.Get(), &size)) {
        LOG_ERROR << "Could not determine size of file";
        return 0;
    }
    return static_cast<ULONGLONG>(size.QuadPart);
}

HRESULT CKVIStream::waitForImage(ULONGLONG end, ULONGLONG* size) {
    *size = imageSize();
    while (*size < end && !m_bCopyFinished) {
        // Published before the size is looked at again: a copy that grows the
        // image past end after that look sees it and signals.
        m_signals->wanted.store(end);
        *size = imageSize();
        if (*size >= end) {
            m_signals->wanted.store(0);
            break;
        }
        const DWORD wait = waitForCopySignal();
        m_signals->wanted.store(0);
        if (wait == WAIT_OBJECT_0) {
            *size = imageSize();
        } else if (wait == WAIT_OBJECT_0 + 1) {
            m_bCopyFinished = true;
            *size = imageSize();
        } else {
            LOG_ERROR << "Wait for copy file progress/finished failed.";
            return E_FAIL;
        }
    }
    // Once a failure is known every read reports it: the image is not the file.
    if (m_bCopyFinished && m_pCopy->Result() != 0) {
        LOG_ERROR << "Unable to copy file from device";
        return hresultFromKvFmResult(m_pCopy->Result());
    }
    return S_OK;
}

HRESULT CKVIStream::waitAtPosition(ULONG count, ULONGLONG* position, ULONGLONG* size) {
    // A Seek made while waiting moves the read: wait again for the new place.
    for (;;) {
        const ULONGLONG at = m_position.load();
        const HRESULT hr = waitForImage(at + count, size);
        if (FAILED(hr)) return hr;
        if (m_position.load() == at) {
            *position = at;
            return S_OK;
        }
    }
}

void CKVIStream::advance(ULONGLONG from, ULONG got) {
    // A Seek made after the bytes were read stands.
    ULONGLONG expected = from;
    m_position.compare_exchange_strong(expected, from + got);
}

HRESULT CKVIStream::readImage(ULONGLONG position, void* buffer, ULONG count, ULONG* got) {
    *got = 0;
    if (!count) return S_OK;
    if (!m_hImage) {
        LOG_ERROR << "Cannot open file " << m_imagePath;
        return E_FAIL;
    }
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD done = 0;
    if (!ReadFile(m_hImage.Get(), buffer, count, &done, &at)) {
        if (GetLastError() != ERROR_HANDLE_EOF) {
            LOG_ERROR << "Error while reading from file " << m_imagePath;
            return E_FAIL;
        }
        done = 0;
    }
    *got = done;
    return S_OK;
}

STDMETHODIMP CKVIStream::Read(void* buffer, ULONG count, ULONG* read) {
    LOG_DEBUG << "Someone is reading " << count << " bytes from the CKVIStreamImpl object";
    if (read) *read = 0;
    if (!m_pFile) return E_FAIL;
    if (!buffer && count) return STG_E_INVALIDPOINTER;
    try {
        com::ScopedLock lock(m_streamLock);
        HRESULT hr = S_OK;
        if (!m_pCopyOperation) {
            hr = startCopy();
            if (FAILED(hr)) return hr;
        }
        ULONGLONG position = 0, size = 0;
        hr = waitAtPosition(count, &position, &size);
        if (FAILED(hr)) return hr;
        ULONG got = 0;
        if (size > position) {
            hr = readImage(position, buffer, static_cast<ULONG>(std::min<ULONGLONG>(count, size - position)), &got);
            if (FAILED(hr)) return hr;
        }
        advance(position, got);
        LOG_DEBUG << "Read " << got << " bytes from file. Current file position is " << position + got;
        if (read) *read = got;
        // A short count at the end of the file is still S_OK: callers loop on
        // S_OK and stop on a zero count.
        return S_OK;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
}

STDMETHODIMP CKVIStream::Write(const void*, ULONG, ULONG* written) {
    if (written) *written = 0;
    if (!m_pFile) return E_FAIL;
    LOG_DEBUG << "Someone is writing to the CKVIStreamImpl object";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
    if (!m_pFile) return E_FAIL;
    LOG_DEBUG << "Someone is setting the position in the CKVIStreamImpl object";
    const ULONGLONG current = m_position.load();
    HRESULT hr = S_OK;
    ULONGLONG next = current;
    switch (origin) {
    case STREAM_SEEK_SET:
        if (move.QuadPart < 0) {
            hr = STG_E_INVALIDFUNCTION;
        } else {
            next = static_cast<ULONGLONG>(move.QuadPart);
            LOG_DEBUG << "Requested position is " << next;
        }
        break;
    case STREAM_SEEK_CUR:
        // Never before the start, never past what a signed offset can name.
        if (move.QuadPart < 0 ? static_cast<ULONGLONG>(-(move.QuadPart + 1)) + 1 > current
                              : static_cast<ULONGLONG>(move.QuadPart) > static_cast<ULONGLONG>(LLONG_MAX) - current) {
            hr = STG_E_INVALIDFUNCTION;
        } else {
            next = current + static_cast<ULONGLONG>(move.QuadPart);
        }
        break;
    case STREAM_SEEK_END:
        LOG_ERROR << "Seek from EOF is not implemented";
        hr = E_NOTIMPL;
        break;
    default:
        LOG_ERROR << "Invalid seek origin";
        hr = E_INVALIDARG;
        break;
    }
    if (hr == STG_E_INVALIDFUNCTION) {
        LOG_ERROR << "Seek to a position outside the stream refused";
    }
    if (SUCCEEDED(hr)) m_position.store(next);
    if (newPosition) newPosition->QuadPart = next;
    return hr;
}

STDMETHODIMP CKVIStream::CopyTo(IStream* destination, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                ULARGE_INTEGER* written) {
    LOG_DEBUG << "Someone wants to copy " << count.QuadPart << " bytes from this stream to another stream";
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    if (!m_pFile) return E_FAIL;
    if (!destination) return STG_E_INVALIDPOINTER;
    ULONGLONG totalRead = 0, totalWritten = 0;
    HRESULT hr = S_OK;
    try {
        com::ScopedLock lock(m_streamLock);
        if (!m_pCopyOperation) {
            hr = startCopy();
            if (FAILED(hr)) return hr;
        }
        std::vector<BYTE> buffer(static_cast<size_t>(std::min<ULONGLONG>(count.QuadPart, kCopyToChunk)));
        ULONGLONG remaining = count.QuadPart;
        while (remaining > 0 && SUCCEEDED(hr)) {
            const ULONG chunk = static_cast<ULONG>(std::min<ULONGLONG>(remaining, kCopyToChunk));
            ULONGLONG position = 0, size = 0;
            hr = waitAtPosition(chunk, &position, &size);
            if (FAILED(hr) || size <= position) break;
            ULONG got = 0;
            hr = readImage(position, buffer.data(), static_cast<ULONG>(std::min<ULONGLONG>(chunk, size - position)),
                           &got);
            if (FAILED(hr) || got == 0) break;
            advance(position, got);
            totalRead += got;
            remaining -= got;
            ULONG put = 0;
            hr = destination->Write(buffer.data(), got, &put);
            totalWritten += put;
            if (FAILED(hr)) {
                LOG_ERROR << "Unable to write to destination stream";
            } else if (put < got) {
                LOG_ERROR << "Unable to write to destination stream";
                hr = STG_E_MEDIUMFULL;
            } else {
                LOG_DEBUG << "Wrote " << put << " bytes to destination stream";
            }
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "No memory for the copy buffer";
        hr = E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
    }
    if (read) read->QuadPart = totalRead;
    if (written) written->QuadPart = totalWritten;
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CKVIStream::SetSize(ULARGE_INTEGER) {
    LOG_DEBUG << "Someone is setting the size of the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::Commit(DWORD) {
    LOG_DEBUG << "Someone is committing the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::Revert() {
    LOG_DEBUG << "Someone wants to revert the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    LOG_DEBUG << "Someone wants to lock a region in the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    LOG_DEBUG << "Someone wants to unlock a region in the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::Stat(STATSTG*, DWORD) {
    LOG_DEBUG << "Someone wants to retreive stats about the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::Clone(IStream** stream) {
    if (stream) *stream = nullptr;
    LOG_DEBUG << "Someone wants to clone the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::RemoteSeek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) {
    LOG_DEBUG << "Someone is remote-seeking in the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}

STDMETHODIMP CKVIStream::RemoteCopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    LOG_DEBUG << "Someone wants to remote-copy the CKVIStream object. Not implemented";
    return E_NOTIMPL;
}
