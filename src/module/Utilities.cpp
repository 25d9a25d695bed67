#include "module/Utilities.h"

#include "module/Logging.h"

KVFMOpResult kvFmResultFromHresult(HRESULT hr) {
    KVFMOpResult result;
    switch (static_cast<ULONG>(hr)) {
    case 0x00000000UL:
    case 0x00000001UL:
        result = KVFM_OK;
        break;
    case 0x80070015UL:  // device not ready
    case 0x80072745UL:  // WSAECONNABORTED
    case 0x80072775UL:  // WSAEDISCON
        result = KVFM_E_DISCONNECTED;
        break;
    case 0x80070003UL:  // path not found
    case 0x800700A1UL:  // bad path name
        result = KVFM_E_NOT_FOUND;
        break;
    case 0x800700B7UL:
        result = KVFM_E_ALREADY_EXISTS;
        break;
    case 0x8007000EUL:  // out of memory
    case 0x80070070UL:  // disk full
        result = KVFM_E_NO_SPACE;
        break;
    case 0x80070005UL:
        result = KVFM_E_ACCESS_DENIED;
        break;
    case 0x80004001UL:  // E_NOTIMPL
    case 0x80070032UL:  // ERROR_NOT_SUPPORTED
        result = KVFM_E_NOT_SUPPORTED;
        break;
    case 0x80004004UL:  // E_ABORT
    case 0x800704C7UL:  // cancelled by the user
    case 0x8007274CUL:  // WSAETIMEDOUT
        result = KVFM_ABORTED;
        break;
    default:
        result = KVFM_E_FAILED;
        break;
    }
    LOG_DEBUG << "HRESULT=" << static_cast<long>(hr) << " => KVFMOpResult=" << static_cast<long>(static_cast<LONG>(result));
    return result;
}

HRESULT hresultFromKvFmResult(KVFMOpResult result) {
    HRESULT hr;
    switch (static_cast<ULONG>(result)) {
    case static_cast<ULONG>(KVFM_OK):
        hr = S_OK;
        break;
    case static_cast<ULONG>(KVFM_E_DISCONNECTED):
    case static_cast<ULONG>(KVFM_ABORTED):
        hr = static_cast<HRESULT>(0x80072745UL);
        break;
    case static_cast<ULONG>(KVFM_E_NOT_FOUND):
        hr = static_cast<HRESULT>(0x80070003UL);
        break;
    case static_cast<ULONG>(KVFM_E_ALREADY_EXISTS):
        hr = static_cast<HRESULT>(0x800700B7UL);
        break;
    case static_cast<ULONG>(KVFM_E_NO_SPACE):
        hr = E_OUTOFMEMORY;
        break;
    case static_cast<ULONG>(KVFM_E_ACCESS_DENIED):
        hr = E_ACCESSDENIED;
        break;
    case static_cast<ULONG>(KVFM_E_NOT_SUPPORTED):
        hr = E_NOTIMPL;
        break;
    default:
        hr = E_FAIL;
        break;
    }
    LOG_DEBUG << "KVFMOpResult=" << static_cast<long>(static_cast<LONG>(result)) << " => HRESULT=" << static_cast<long>(hr);
    return hr;
}
