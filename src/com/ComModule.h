// Module-wide state of a COM server: instance handle, lock count, and the
// clean-up run when the library is unloaded.
#pragma once

#include <windows.h>
#include <atomic>
#include <string>
#include <vector>
#include "com/ComUtil.h"

namespace com {

class ComModule {
public:
    // Records the module handle; without it the module containing this code is used.
    void SetInstance(HINSTANCE instance) { m_instance = instance; }
    HINSTANCE Instance() const;
    std::wstring ModulePath() const;

    LONG Lock() { return ++m_lockCount; }
    LONG Unlock() { return --m_lockCount; }
    LONG LockCount() const { return m_lockCount.load(); }

    // Guards the class-factory cache and the clean-up list.
    CriticalSection& Guard() { return m_guard; }

    // Run by Term, last registered first: releases cached type information etc.
    void AddTermFunc(void (*func)(void*), void* arg);
    void Term();

private:
    HINSTANCE m_instance = nullptr;
    std::atomic<LONG> m_lockCount{0};
    CriticalSection m_guard;
    std::vector<std::pair<void (*)(void*), void*>> m_termFuncs;
};

ComModule& Module();

} // namespace com
