// kvfm: browses a phone's files from the command line through Morvane's
// public COM interfaces, early-bound. It plays the Device Manager: it finds the
// phone through the phone connectivity application and binds the service to it.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Console.h"
#include "FolderEventSink.h"
#include "Morvane.h"
#include "PhoneSim.h"
#include "Text.h"
#include "Transfer.h"

using namespace kvfm;

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

enum ObjectType : long { kTypeFile = 1, kTypeFolder = 2, kTypeMountPoint = 3 };

// The phone connectivity application (the vendor's SCOM, here the simulator).
const CLSID kClsidPhoneApplication = {0x98c34439, 0x558e, 0x4bde, {0xac, 0x27, 0x25, 0xd5, 0x3a, 0x20, 0x2e, 0x95}};
// The context the connectivity application is created with by its clients.
const DWORD kPhoneApplicationContext = 23;

struct Options {
    std::wstring phone, config, imei;
    std::wstring uid = L"phone-browser";
    DWORD timeoutMs = 60000;
    std::wstring command;
    std::vector<std::wstring> arguments;  // after the command
    TransferOptions transfer;
};

std::string DescribeOpResult(ULONG result) {
    const char* name = OpResultName(result);
    if (!name) return DescribeHr(static_cast<HRESULT>(result));
    char text[64];
    std::snprintf(text, sizeof text, "0x%08lX %s", static_cast<unsigned long>(result), name);
    return text;
}

std::string FormatDate(DATE date) {
    // Zero is the null date: virtual folders have no times.
    if (date == 0) return "(not set)";
    SYSTEMTIME t = {};
    if (!VariantTimeToSystemTime(date, &t)) return "(not a date)";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

std::string AttributeNames(long attributes) {
    static const struct {
        DWORD bit;
        const char* name;
    } names[] = {{FILE_ATTRIBUTE_READONLY, "read-only"},   {FILE_ATTRIBUTE_HIDDEN, "hidden"},
                 {FILE_ATTRIBUTE_SYSTEM, "system"},        {FILE_ATTRIBUTE_DIRECTORY, "directory"},
                 {FILE_ATTRIBUTE_ARCHIVE, "archive"},      {FILE_ATTRIBUTE_NORMAL, "normal"},
                 {FILE_ATTRIBUTE_TEMPORARY, "temporary"},  {FILE_ATTRIBUTE_COMPRESSED, "compressed"},
                 {FILE_ATTRIBUTE_OFFLINE, "offline"},      {FILE_ATTRIBUTE_ENCRYPTED, "encrypted"}};
    std::string out;
    for (const auto& n : names) {
        if (static_cast<DWORD>(attributes) & n.bit) out += (out.empty() ? "" : ", ") + std::string(n.name);
    }
    return out;
}

const char* TypeName(long type) {
    switch (type) {
    case kTypeFile: return "file";
    case kTypeFolder: return "folder";
    case kTypeMountPoint: return "mount point";
    default: return "unknown";
    }
}

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: kvfm [options] COMMAND ARGUMENTS\n"
        "\n"
        "Browses and manages a phone's files through Morvane, binding the service to\n"
        "the phone as the Device Manager does.\n"
        "\n"
        "commands:\n"
        "  ls PATH               list a folder's objects (asynchronous listing with events)\n"
        "  tree PATH             show a folder and everything below it\n"
        "  info PATH             show every property of a file, folder or mount point\n"
        "  get PATH PCFOLDER     copy a phone file or folder tree into a PC folder\n"
        "  put PCPATH FOLDER     copy a PC file or folder tree into a phone folder\n"
        "  mv SOURCE TARGET      move: a phone PATH into a PCFOLDER, or a PCPATH into a\n"
        "                        phone FOLDER (a SOURCE starting with \\ is on the phone)\n"
        "  rm PATH               delete a phone file, or a folder with everything in it\n"
        "  mkdir PATH            create a phone folder (its parent must exist)\n"
        "  rename PATH NEWNAME   rename a phone file or folder\n"
        "  cat PATH              write a phone file's content to standard output (streamed)\n"
        "\n"
        "options:\n"
        "  --phone FILE     phone description (sets MORVANE_PHONESIM_CONFIG)\n"
        "  --config FILE    capability configuration (sets MORVANE_CAPMGR_CONFIG)\n"
        "  --uid UID        device uid for SetDeviceInformation (default phone-browser)\n"
        "  --imei IMEI      the connected phone to use (default: the first one)\n"
        "  --timeout SEC    how long ls waits for its listing, and how long another\n"
        "                   command waits while its operation shows no progress (default 60)\n"
        "  --name NAME      get, put, mv: the name at the destination (a file copied to\n"
        "                   the phone keeps its own)\n"
        "  --replace WHAT   how a folder that exists on the PC is treated by get and mv:\n"
        "                   merge, merge-all, skip or abort (default: asked on a console,\n"
        "                   else skip)\n"
        "  --cancel-after N cancel once the progress reaches N percent, as Ctrl-C does\n"
        "  --help           show this text\n"
        "\n"
        "PATH and FOLDER are virtual paths such as \\ or \\Phone\\ or \\Phone\\Data\\notes.txt.\n"
        "Progress is shown per file; Ctrl-C cancels the operation at its next progress\n"
        "event. Results are printed as 'done: KVFM_OK' or 'failed: NAME (CODE)'.\n"
        "Exit codes: 0 success, 1 the operation failed or was refused, 2 usage error.\n",
        out);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kvfm: %s\n", message.c_str());
    std::fputs("Try 'kvfm --help'.\n", stderr);
    return kExitUsage;
}

bool IsPhonePath(const std::wstring& path) {
    return !path.empty() && path[0] == L'\\';
}

// How many arguments a command takes, and which of them are phone paths.
struct CommandShape {
    const wchar_t* name;
    const char* arguments;  // for messages
    size_t count;
    bool phoneFirst, phoneSecond;
};

const CommandShape kCommands[] = {
    {L"ls", "PATH", 1, true, false},
    {L"tree", "PATH", 1, true, false},
    {L"info", "PATH", 1, true, false},
    {L"get", "PATH PCFOLDER", 2, true, false},
    {L"put", "PCPATH FOLDER", 2, false, true},
    {L"mv", "SOURCE TARGET", 2, false, false},
    {L"rm", "PATH", 1, true, false},
    {L"mkdir", "PATH", 1, true, false},
    {L"rename", "PATH NEWNAME", 2, true, false},
    {L"cat", "PATH", 1, true, false},
};

int PathError(const std::wstring& path) {
    return UsageError("a phone path starts with \\, not '" + Utf8(path) + "'");
}

int ParseReplace(const std::wstring& value, LONG& answer) {
    static const struct {
        const wchar_t* name;
        LONG answer;
    } answers[] = {{L"merge", kMerge}, {L"merge-all", kMergeAll}, {L"skip", kSkip}, {L"abort", kAbort},
                   {L"1", kMerge},     {L"2", kMergeAll},         {L"3", kSkip},    {L"4", kAbort}};
    for (const auto& a : answers) {
        if (value == a.name) {
            answer = a.answer;
            return -1;
        }
    }
    return UsageError("--replace wants merge, merge-all, skip or abort, not '" + Utf8(value) + "'");
}

// Returns -1 when the options are fine, else the exit code.
int ParseArguments(int argc, wchar_t** argv, Options& options) {
    std::vector<std::wstring> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == L"--") {
            optionsEnded = true;
            continue;
        }
        if (arg == L"--help") {
            PrintUsage(stdout);
            return kExitOk;
        }
        std::wstring name = arg, value;
        bool hasValue = false;
        const size_t equals = arg.find(L'=');
        if (equals != std::wstring::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        std::wstring* target = nullptr;
        if (name == L"--phone") target = &options.phone;
        else if (name == L"--config") target = &options.config;
        else if (name == L"--uid") target = &options.uid;
        else if (name == L"--imei") target = &options.imei;
        else if (name == L"--name") target = &options.transfer.name;
        else if (name != L"--timeout" && name != L"--replace" && name != L"--cancel-after")
            return UsageError("unknown option '" + Utf8(name) + "'");
        if (!hasValue) {
            if (i + 1 >= argc) return UsageError("option '" + Utf8(name) + "' needs a value");
            value = argv[++i];
        }
        if (target) {
            *target = value;
            continue;
        }
        if (name == L"--replace") {
            const int rc = ParseReplace(value, options.transfer.replaceFolder);
            if (rc >= 0) return rc;
            continue;
        }
        wchar_t* end = nullptr;
        const double number = std::wcstod(value.c_str(), &end);
        if (name == L"--cancel-after") {
            if (value.empty() || !end || *end || !(number >= 0) || number > 100 || number != static_cast<int>(number))
                return UsageError("--cancel-after wants a percentage from 0 to 100, not '" + Utf8(value) + "'");
            options.transfer.cancelAfter = static_cast<int>(number);
            continue;
        }
        if (value.empty() || !end || *end || !(number > 0) || number > 86400)
            return UsageError("--timeout wants a number of seconds, not '" + Utf8(value) + "'");
        options.timeoutMs = static_cast<DWORD>(number * 1000);
    }
    options.transfer.timeoutMs = options.timeoutMs;
    if (positional.empty()) return UsageError("no command given");
    options.command = positional[0];
    options.arguments.assign(positional.begin() + 1, positional.end());
    const CommandShape* shape = nullptr;
    for (const auto& c : kCommands) {
        if (options.command == c.name) shape = &c;
    }
    if (!shape) return UsageError("unknown command '" + Utf8(options.command) + "'");
    if (options.arguments.size() != shape->count)
        return UsageError("'" + Utf8(options.command) + "' takes " + shape->arguments);
    for (const auto& argument : options.arguments) {
        if (argument.empty()) return UsageError("'" + Utf8(options.command) + "' got an empty argument");
    }
    if (shape->phoneFirst && !IsPhonePath(options.arguments[0])) return PathError(options.arguments[0]);
    if (shape->phoneSecond && !IsPhonePath(options.arguments[1])) return PathError(options.arguments[1]);
    // mv: one side on the phone, the other on the PC.
    if (options.command == L"mv") {
        if (IsPhonePath(options.arguments[0]) == IsPhonePath(options.arguments[1]))
            return UsageError("'mv' moves between the phone and the PC: one of SOURCE and TARGET must be a phone path "
                              "(starting with \\), the other a PC path");
    }
    return -1;
}

// Sets a configuration variable to a full path, so the components find the
// file whatever their current directory.
bool SetConfigVariable(const wchar_t* variable, const std::wstring& file) {
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(file.c_str(), ARRAYSIZE(full), full, nullptr);
    if (!n || n >= ARRAYSIZE(full)) return false;
    if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) return false;
    return SetEnvironmentVariableW(variable, full) != FALSE;
}

// The Device Manager's part: the service bound to one connected phone.
class Session {
public:
    ~Session() {
        fileMgmt.Reset();
        // Unbind only what was bound, once every object is released.
        if (m_bound && m_deviceInfo) m_deviceInfo->SetDeviceInformation(nullptr, nullptr);
        m_deviceInfo.Reset();
        m_service.Reset();
        m_device.Reset();
        m_application.Reset();
    }

    int Bind(const Options& options) {
        HRESULT hr = CoCreateInstance(CLSID_KVFileMgmtService, nullptr, CLSCTX_INPROC_SERVER, IID_IKVFileMgmtService,
                                      m_service.PutVoid());
        if (FAILED(hr)) return Fail("cannot create the file management service", hr);
        hr = m_service.As(IID_IKVDeviceInformation, m_deviceInfo);
        if (FAILED(hr)) return Fail("the service has no IKVDeviceInformation", hr);

        ComPtr<IUnknown> unknown;
        hr = CoCreateInstance(kClsidPhoneApplication, nullptr, kPhoneApplicationContext, IID_IUnknown,
                              unknown.PutVoid());
        if (FAILED(hr)) return Fail("cannot create the phone connectivity application", hr);
        OleRun(unknown.Get());
        hr = unknown.As(IID_ISCApplication, m_application);
        if (FAILED(hr)) return Fail("the phone connectivity application has no ISCApplication", hr);

        hr = FindDevice(options.imei);
        if (FAILED(hr)) return Fail("cannot list the connected phones", hr);
        if (!m_device) {
            if (options.imei.empty()) std::fputs("kvfm: no phone is connected\n", stderr);
            else std::fprintf(stderr, "kvfm: no connected phone has IMEI '%s'\n", Utf8(options.imei).c_str());
            return kExitFailed;
        }

        Bstr uid(options.uid);
        hr = m_deviceInfo->SetDeviceInformation(m_device.Get(), uid.Get());
        if (FAILED(hr)) return Fail("cannot bind the service to the phone", hr);
        m_bound = true;
        hr = m_service->CreateFileMgmt(fileMgmt.Put());
        if (FAILED(hr) || !fileMgmt) return Fail("cannot create the file management object", FAILED(hr) ? hr : E_POINTER);
        return kExitOk;
    }

    ComPtr<IKVFileMgmt> fileMgmt;

private:
    static int Fail(const char* what, HRESULT hr) {
        std::fprintf(stderr, "kvfm: %s: %s\n", what, DescribeHr(hr).c_str());
        return kExitFailed;
    }

    HRESULT FindDevice(const std::wstring& imei) {
        ComPtr<ISCDevices> devices;
        HRESULT hr = m_application->get_Devices(devices.Put());
        if (FAILED(hr)) return hr;
        if (!devices) return E_POINTER;
        long count = 0;
        hr = devices->get_Count(&count);
        if (FAILED(hr)) return hr;
        for (long i = 1; i <= count; ++i) {
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            ComPtr<ISCDevice> device;
            hr = devices->get_Item(index, device.Put());
            if (FAILED(hr)) return hr;
            if (!device) continue;
            if (!imei.empty()) {
                Bstr deviceImei;
                if (FAILED(device->get_IMEI(deviceImei.Put())) || deviceImei.Str() != imei) continue;
            }
            m_device = device;
            return S_OK;
        }
        return S_OK;
    }

    ComPtr<IKVFileMgmtService> m_service;
    ComPtr<IKVDeviceInformation> m_deviceInfo;
    ComPtr<ISCApplication> m_application;
    ComPtr<ISCDevice> m_device;
    bool m_bound = false;
};

int CannotOpen(const std::wstring& path, HRESULT hr) {
    std::fprintf(stderr, "kvfm: cannot open '%s': %s\n", Utf8(path).c_str(), DescribeHr(hr).c_str());
    return kExitFailed;
}

// Items of a collection, in the enumerator's order; checks them against Count.
template <class Collection>
HRESULT Enumerate(Collection* collection, std::vector<ComPtr<IKVFMObject>>& items) {
    items.clear();
    if (!collection) return E_POINTER;
    ComPtr<IUnknown> unknown;
    HRESULT hr = collection->get__NewEnum(unknown.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IEnumVARIANT> enumerator;
    hr = unknown.As(IID_IEnumVARIANT, enumerator);
    if (FAILED(hr)) return hr;
    for (;;) {
        Variant item;
        ULONG fetched = 0;
        hr = enumerator->Next(1, item.Put(), &fetched);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE || fetched == 0) break;
        const VARIANT& v = *item;
        IUnknown* element = v.vt == VT_DISPATCH ? v.pdispVal : v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
        if (!element) return DISP_E_TYPEMISMATCH;
        ComPtr<IKVFMObject> object;
        hr = element->QueryInterface(IID_IKVFMObject, object.PutVoid());
        if (FAILED(hr)) return hr;
        items.push_back(object);
    }
    long count = -1;
    hr = collection->get_Count(&count);
    if (FAILED(hr)) return hr;
    if (count != static_cast<long>(items.size())) {
        std::fprintf(stderr, "kvfm: a collection reports Count %ld but enumerates %zu items\n", count, items.size());
        return E_UNEXPECTED;
    }
    return S_OK;
}

std::wstring NameOf(IKVFMObject* object) {
    Bstr name;
    if (FAILED(object->get_Name(name.Put()))) return L"?";
    return name.Str();
}

// --- info ---------------------------------------------------------------------

class InfoPrinter {
public:
    template <class Getter>
    void Text(const char* label, Getter get) {
        Bstr value;
        HRESULT hr = get(value.Put());
        if (Check(label, hr)) Line(label, SysStringLen(value.Get()) ? Utf8(value.Str()) : "(none)");
    }
    template <class Getter>
    void Number(const char* label, Getter get, const char* unit = "") {
        long value = 0;
        HRESULT hr = get(&value);
        if (Check(label, hr)) Line(label, std::to_string(value) + unit);
    }
    template <class Getter>
    void Date(const char* label, Getter get) {
        DATE value = 0;
        HRESULT hr = get(&value);
        if (Check(label, hr)) Line(label, FormatDate(value));
    }
    void Line(const char* label, const std::string& value) { std::printf("%-12s %s\n", label, value.c_str()); }
    bool Check(const char* label, HRESULT hr) {
        if (SUCCEEDED(hr)) return true;
        Line(label, "(failed: " + DescribeHr(hr) + ")");
        ++failures;
        return false;
    }
    int failures = 0;
};

int Info(IKVFileMgmt* fileMgmt, const std::wstring& path) {
    Bstr bpath(path);
    ComPtr<IKVFMObject> object;
    ComPtr<IKVFMFolder> folder;
    HRESULT hrFolder = fileMgmt->CreateFMFolder(bpath.Get(), folder.Put());
    if (SUCCEEDED(hrFolder) && folder) {
        object = ComPtr<IKVFMObject>(folder.Get());
    } else {
        ComPtr<IKVFMFile> file;
        HRESULT hrFile = fileMgmt->CreateFMFile(bpath.Get(), file.Put());
        if (FAILED(hrFile) || !file) {
            // A trailing backslash names a folder: its error says more.
            const bool folderPath = path.back() == L'\\';
            HRESULT hr = folderPath ? hrFolder : hrFile;
            return CannotOpen(path, FAILED(hr) ? hr : E_POINTER);
        }
        object = ComPtr<IKVFMObject>(file.Get());
    }

    InfoPrinter p;
    IKVFMObject* o = object.Get();
    p.Text("Name:", [o](BSTR* v) { return o->get_Name(v); });
    p.Text("Path:", [o](BSTR* v) { return o->get_Path(v); });
    long type = 0;
    HRESULT hr = o->get_Type(&type);
    if (p.Check("Type:", hr)) p.Line("Type:", std::string(TypeName(type)) + " (" + std::to_string(type) + ")");
    {
        ComPtr<IKVFMFolder> parent;
        hr = o->get_Parent(parent.Put());
        Bstr ownPath;
        const bool root = SUCCEEDED(o->get_Path(ownPath.Put())) && ownPath.Str() == L"\\";
        if (root && FAILED(hr)) {
            p.Line("Parent:", "(none: the root)");
        } else if (p.Check("Parent:", hr)) {
            if (!parent) {
                p.Line("Parent:", "(none)");
            } else {
                Bstr parentPath;
                if (p.Check("Parent:", parent->get_Path(parentPath.Put()))) p.Line("Parent:", Utf8(parentPath.Str()));
            }
        }
    }
    p.Date("Created:", [o](DATE* v) { return o->get_Created(v); });
    p.Date("Accessed:", [o](DATE* v) { return o->get_Accessed(v); });
    p.Date("Changed:", [o](DATE* v) { return o->get_Changed(v); });
    long attributes = 0;
    hr = o->get_FileAttributes(&attributes);
    if (p.Check("Attributes:", hr)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(attributes));
        const std::string names = AttributeNames(attributes);
        p.Line("Attributes:", names.empty() ? hex : std::string(hex) + " (" + names + ")");
    }

    if (type == kTypeFile) {
        ComPtr<IKVFMFile> file;
        if (p.Check("Size:", object.As(IID_IKVFMFile, file))) {
            IKVFMFile* f = file.Get();
            p.Number("Size:", [f](long* v) { return f->get_Size(v); }, " bytes");
            p.Text("MIME type:", [f](BSTR* v) { return f->get_MIMEType(v); });
        }
    } else if (type == kTypeMountPoint) {
        ComPtr<IKVFMMountPoint> mount;
        if (p.Check("Capacity:", object.As(IID_IKVFMMountPoint, mount))) {
            IKVFMMountPoint* m = mount.Get();
            p.Number("Capacity:", [m](long* v) { return m->get_Capacity(v); }, " bytes");
            p.Number("Free:", [m](long* v) { return m->get_Free(v); }, " bytes");
            p.Number("Used:", [m](long* v) { return m->get_Used(v); }, " bytes");
            p.Text("Label:", [m](BSTR* v) { return m->get_Label(v); });
            p.Number("Media:", [m](long* v) { return m->get_Media(v); });
        }
    }
    return p.failures ? kExitFailed : kExitOk;
}

// --- ls -----------------------------------------------------------------------

int Ls(IKVFileMgmt* fileMgmt, const std::wstring& path, DWORD timeoutMs) {
    Bstr bpath(path);
    ComPtr<IKVFMFolder> folder;
    HRESULT hr = fileMgmt->CreateFMFolder(bpath.Get(), folder.Put());
    if (FAILED(hr) || !folder) return CannotOpen(path, FAILED(hr) ? hr : E_POINTER);

    ComPtr<FolderEventSink> sink = FolderEventSink::Create();
    hr = sink->Advise(folder.Get());
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvfm: cannot connect to the events of '%s': %s\n", Utf8(path).c_str(),
                     DescribeHr(hr).c_str());
        return kExitFailed;
    }
    LONG transactionId = 0;
    FolderEventSink::Completion done;
    hr = folder->GetObjectsAsynch(&transactionId);
    if (SUCCEEDED(hr)) hr = sink->WaitForCompletion(transactionId, timeoutMs, done);
    sink->UnadviseAll();
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvfm: cannot list '%s': %s\n", Utf8(path).c_str(), DescribeHr(hr).c_str());
        return kExitFailed;
    }
    if (done.result != 0) {
        std::fprintf(stderr, "kvfm: cannot list '%s': %s\n", Utf8(path).c_str(), DescribeOpResult(done.result).c_str());
        return kExitFailed;
    }
    ComPtr<IKVFMObjects> objects;
    hr = done.object ? done.object.As(IID_IKVFMObjects, objects) : E_POINTER;
    std::vector<ComPtr<IKVFMObject>> items;
    if (SUCCEEDED(hr)) hr = Enumerate(objects.Get(), items);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvfm: the listing of '%s' is unusable: %s\n", Utf8(path).c_str(), DescribeHr(hr).c_str());
        return kExitFailed;
    }

    int failures = 0;
    for (const auto& item : items) {
        long type = 0;
        std::string size;
        hr = item->get_Type(&type);
        if (SUCCEEDED(hr) && type == kTypeFile) {
            ComPtr<IKVFMFile> file;
            long bytes = 0;
            hr = item.As(IID_IKVFMFile, file);
            if (SUCCEEDED(hr)) hr = file->get_Size(&bytes);
            if (SUCCEEDED(hr)) size = std::to_string(bytes);
        }
        const std::wstring name = NameOf(item.Get());
        if (FAILED(hr)) {
            std::fprintf(stderr, "kvfm: '%s': %s\n", Utf8(name).c_str(), DescribeHr(hr).c_str());
            ++failures;
            continue;
        }
        const char* marker = type == kTypeFile ? "file" : type == kTypeFolder ? "dir" : type == kTypeMountPoint ? "mount" : "?";
        std::printf("%-5s %12s  %s%s\n", marker, size.c_str(), Utf8(name).c_str(), type == kTypeFile ? "" : "\\");
    }
    return failures ? kExitFailed : kExitOk;
}

// --- tree ---------------------------------------------------------------------

// Folders below this depth are not entered, in case a mapping loops.
const int kMaxTreeDepth = 64;

struct TreeEntry {
    std::wstring name;
    long type = 0;
    long size = 0;
    ComPtr<IKVFMFolder> folder;
};

std::string EntryText(const TreeEntry& e) {
    if (e.type == kTypeFile) return Utf8(e.name) + "  (" + std::to_string(e.size) + " bytes)";
    return Utf8(e.name) + "\\" + (e.type == kTypeMountPoint ? "  [mount point]" : "");
}

void PrintTree(IKVFMFolder* folder, const std::string& indent, int depth, int& failures) {
    std::vector<ComPtr<IKVFMObject>> items;
    ComPtr<IKVFMObjects> objects;
    HRESULT hr = folder->get_Objects(objects.Put());
    if (SUCCEEDED(hr)) hr = Enumerate(objects.Get(), items);

    // Folders first, then files, each in the collection's order.
    std::vector<TreeEntry> folders, files;
    for (const auto& item : items) {
        if (FAILED(hr)) break;
        TreeEntry e;
        e.name = NameOf(item.Get());
        hr = item->get_Type(&e.type);
        if (FAILED(hr)) break;
        if (e.type == kTypeFile) {
            ComPtr<IKVFMFile> file;
            hr = item.As(IID_IKVFMFile, file);
            if (SUCCEEDED(hr)) hr = file->get_Size(&e.size);
            files.push_back(e);
        } else {
            hr = item.As(IID_IKVFMFolder, e.folder);
            folders.push_back(e);
        }
    }
    if (FAILED(hr)) {
        std::printf("%s`-- (cannot list: %s)\n", indent.c_str(), DescribeHr(hr).c_str());
        ++failures;
        return;
    }
    std::vector<TreeEntry> entries = folders;
    entries.insert(entries.end(), files.begin(), files.end());
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool last = i + 1 == entries.size();
        std::printf("%s%s%s\n", indent.c_str(), last ? "`-- " : "+-- ", EntryText(entries[i]).c_str());
        if (entries[i].folder) {
            if (depth + 1 >= kMaxTreeDepth) {
                std::printf("%s%s`-- (deeper than %d levels: not shown)\n", indent.c_str(), last ? "    " : "|   ",
                            kMaxTreeDepth);
                ++failures;
                continue;
            }
            PrintTree(entries[i].folder.Get(), indent + (last ? "    " : "|   "), depth + 1, failures);
        }
    }
}

int Tree(IKVFileMgmt* fileMgmt, const std::wstring& path) {
    Bstr bpath(path);
    ComPtr<IKVFMFolder> folder;
    HRESULT hr = fileMgmt->CreateFMFolder(bpath.Get(), folder.Put());
    if (FAILED(hr) || !folder) return CannotOpen(path, FAILED(hr) ? hr : E_POINTER);
    Bstr shown;
    if (FAILED(folder->get_Path(shown.Put())) || !shown.Get()) *shown.Put() = SysAllocString(path.c_str());
    std::printf("%s\n", Utf8(shown.Str()).c_str());
    int failures = 0;
    PrintTree(folder.Get(), "", 0, failures);
    return failures ? kExitFailed : kExitOk;
}

// Streams the file through get_IStream; bytes go out as they arrive.
int Cat(IKVFileMgmt* fileMgmt, const std::wstring& path) {
    Bstr bpath(path);
    ComPtr<IKVFMFile> file;
    HRESULT hr = fileMgmt->CreateFMFile(bpath.Get(), file.Put());
    if (FAILED(hr) || !file) return CannotOpen(path, FAILED(hr) ? hr : E_POINTER);
    ComPtr<IUnknown> unknown;
    hr = file->get_IStream(unknown.Put());
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr)) hr = unknown.As(IID_IStream, stream);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvfm: cannot stream '%s': %s\n", Utf8(path).c_str(), DescribeHr(hr).c_str());
        return kExitFailed;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG read = 0;
        hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read);
        if (FAILED(hr)) {
            std::fflush(stdout);
            std::fprintf(stderr, "kvfm: reading '%s' failed: %s\n", Utf8(path).c_str(), DescribeHr(hr).c_str());
            return kExitFailed;
        }
        if (read && std::fwrite(buffer.data(), 1, read, stdout) != read) {
            std::fprintf(stderr, "kvfm: cannot write to standard output\n");
            return kExitFailed;
        }
        if (hr == S_FALSE || read == 0) break;
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int Run(const Options& options) {
    if (!options.phone.empty() && !SetConfigVariable(L"MORVANE_PHONESIM_CONFIG", options.phone)) {
        std::fprintf(stderr, "kvfm: no phone description '%s'\n", Utf8(options.phone).c_str());
        return kExitUsage;
    }
    if (!options.config.empty() && !SetConfigVariable(L"MORVANE_CAPMGR_CONFIG", options.config)) {
        std::fprintf(stderr, "kvfm: no capability configuration '%s'\n", Utf8(options.config).c_str());
        return kExitUsage;
    }
    Session session;
    int rc = session.Bind(options);
    if (rc != kExitOk) return rc;
    IKVFileMgmt* fileMgmt = session.fileMgmt.Get();
    const std::vector<std::wstring>& a = options.arguments;
    const TransferOptions& t = options.transfer;
    if (options.command == L"info") return Info(fileMgmt, a[0]);
    if (options.command == L"ls") return Ls(fileMgmt, a[0], options.timeoutMs);
    if (options.command == L"tree") return Tree(fileMgmt, a[0]);
    if (options.command == L"cat") return Cat(fileMgmt, a[0]);
    if (options.command == L"get") return Get(fileMgmt, a[0], a[1], t);
    if (options.command == L"put") return Put(fileMgmt, a[0], a[1], t);
    if (options.command == L"mv") return Move(fileMgmt, a[0], a[1], t);
    if (options.command == L"rm") return Remove(fileMgmt, a[0], t);
    if (options.command == L"mkdir") return MakeFolder(fileMgmt, a[0], t);
    return Rename(fileMgmt, a[0], a[1], t);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, options);
    if (parsed >= 0) return parsed;

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvfm: cannot initialise COM: %s\n", DescribeHr(hr).c_str());
        return kExitFailed;
    }
    InstallCancelHandler();
    const int rc = Run(options);
    std::fflush(stdout);
    CoUninitialize();
    return rc;
}
