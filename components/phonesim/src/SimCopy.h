// Copies between the PC and the phone: each runs on a thread of its own and
// reports through ISCEvents to every advised sink, ending with exactly one
// completion event.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "SimState.h"
#include "com/ComUtil.h"

namespace phonesim {

struct CopyJob {
    long id = 0;
    std::wstring imei;
    wchar_t drive = 0;
    bool toPc = false;
    std::wstring eventName;     // the name the events carry: the source's path
    std::wstring source;        // PC path of the file read
    std::wstring target;        // PC path of the file written
    CopyPlan plan;

    // Written under the state's lock.
    HRESULT abortResult = S_OK;

    // Set once the first event reached the sinks (early mode).
    com::UniqueHandle firstEvent;
    HWND window = nullptr;
    bool gateOpen = false;
    bool messagePosted = false;
};

// Starts the copy described by job (request id and plan are filled in here);
// returns its request id at once, or after its first event in early mode.
HRESULT StartCopy(const std::shared_ptr<CopyJob>& job, long* requestId);

// Releases what the copy machinery keeps for the module (window class).
void TermCopies();

} // namespace phonesim
