// Conversions between HRESULTs and the framework's operation results.
#pragma once

#include <windows.h>

#include "KVFileMgmt.h"

// The result of a failing step, as completion events report it.
KVFMOpResult kvFmResultFromHresult(HRESULT hr);

// The HRESULT of a finished transfer's result, as stream calls return it.
HRESULT hresultFromKvFmResult(KVFMOpResult result);

// Results often travel as plain 32-bit numbers (VARIANT VT_I4).
inline HRESULT hresultFromKvFmResult(LONG result) {
    return hresultFromKvFmResult(static_cast<KVFMOpResult>(static_cast<ULONG>(result)));
}
