// What the storage layer calls back while a copy runs: progress (which may ask
// to cancel) and the replace question. The operations implement them and own
// them; the storage layer and the wait objects only keep plain pointers.
#pragma once

#include <windows.h>
#include <oleauto.h>

class CProgressCallbackFunctionBase {
public:
    virtual ~CProgressCallbackFunctionBase() = default;
    // path: full path of the item; cancel: in and out, non-zero asks to cancel.
    virtual HRESULT Invoke(const wchar_t* path, short percent, short* cancel) = 0;
};

class CReplaceCallbackFunctionBase {
public:
    virtual ~CReplaceCallbackFunctionBase() = default;
    // answer: 1 replace, 3 abort.
    virtual HRESULT Invoke(const wchar_t* path, DATE date1, ULONG size1, DATE date2, ULONG size2, long* answer) = 0;
};
