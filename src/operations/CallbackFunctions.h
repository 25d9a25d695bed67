// The callbacks the copy and move operations hand to the storage layer: they
// turn progress and replace questions into client events on the target.
#pragma once

#include "operations/Callbacks.h"

class FMObjectImpl;

// Fires Progress, then FileProgress with the file name only; both share the
// caller's cancel flag.
class CProgressCallbackFunction : public CProgressCallbackFunctionBase {
public:
    CProgressCallbackFunction(FMObjectImpl* target, LONG transactionId)
        : m_pTarget(target), m_lTransactionId(transactionId) {}
    HRESULT Invoke(const wchar_t* path, short percent, short* cancel) override;

private:
    FMObjectImpl* m_pTarget;  // not owned
    LONG m_lTransactionId;
};

// Asks the client through ReplaceFile.
class CReplaceCallbackFunction : public CReplaceCallbackFunctionBase {
public:
    CReplaceCallbackFunction(FMObjectImpl* target, LONG transactionId)
        : m_pTarget(target), m_lTransactionId(transactionId) {}
    HRESULT Invoke(const wchar_t* path, DATE date1, ULONG size1, DATE date2, ULONG size2, long* answer) override;

private:
    FMObjectImpl* m_pTarget;  // not owned
    LONG m_lTransactionId;
};

// Always answers replace (1); asks nobody.
class CReplaceAlwaysCallbackFunction : public CReplaceCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t* path, DATE date1, ULONG size1, DATE date2, ULONG size2, long* answer) override;
};
