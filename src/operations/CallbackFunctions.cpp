#include "operations/CallbackFunctions.h"

#include <shlwapi.h>

#include "module/Logging.h"
#include "operations/AsynchOperation.h"

namespace {

const wchar_t* fileNamePart(const wchar_t* path) { return path ? PathFindFileNameW(path) : L""; }

} // namespace

HRESULT CProgressCallbackFunction::Invoke(const wchar_t* path, short percent, short* cancel) {
    LOG_DEBUG << "Progress: " << percent;
    // The storage layer may pass no flag; the events still need one to write to.
    short ownCancel = 0;
    short* flag = cancel ? cancel : &ownCancel;
    FireProgress(m_pTarget, percent, m_lTransactionId, flag);
    return FireFileProgress(m_pTarget, fileNamePart(path), percent, m_lTransactionId, flag);
}

HRESULT CReplaceCallbackFunction::Invoke(const wchar_t* path, DATE date1, ULONG size1, DATE date2, ULONG size2,
                                         long* answer) {
    LOG_DEBUG << "Replace situation.";
    LONG ownAnswer = 0;
    LONG* reply = answer ? answer : &ownAnswer;
    return FireReplaceFile(m_pTarget, m_lTransactionId, fileNamePart(path), date1, static_cast<LONG>(size1), date2,
                           static_cast<LONG>(size2), reply);
}

HRESULT CReplaceAlwaysCallbackFunction::Invoke(const wchar_t*, DATE, ULONG, DATE, ULONG, long* answer) {
    LOG_DEBUG << "CReplaceAlwaysCallbackFunction replaces all files.";
    if (!answer) return E_INVALIDARG;
    *answer = 1;
    return S_OK;
}
