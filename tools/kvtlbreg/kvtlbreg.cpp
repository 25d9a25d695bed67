// kvtlbreg [-u] file.tlb...: registers (or unregisters) type libraries.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    bool unregister = false;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"-u") == 0) {
            unregister = true;
            continue;
        }
        wchar_t full[MAX_PATH] = {};
        if (!GetFullPathNameW(argv[i], MAX_PATH, full, nullptr)) {
            fwprintf(stderr, L"kvtlbreg: bad path %ls\n", argv[i]);
            ++failures;
            continue;
        }
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadTypeLibEx(full, REGKIND_NONE, &lib);
        if (SUCCEEDED(hr)) {
            if (unregister) {
                TLIBATTR* attr = nullptr;
                hr = lib->GetLibAttr(&attr);
                if (SUCCEEDED(hr)) {
                    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                           attr->syskind);
                    lib->ReleaseTLibAttr(attr);
                }
            } else {
                hr = RegisterTypeLib(lib, full, nullptr);
            }
            lib->Release();
        }
        if (FAILED(hr)) {
            fwprintf(stderr, L"kvtlbreg: %ls: 0x%08lx\n", full, static_cast<unsigned long>(hr));
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
