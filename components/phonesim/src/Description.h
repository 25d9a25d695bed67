// The phone description: which devices are connected, their drives and the PC
// folders that hold the drives' content. Read from an XML file with MSXML.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace phonesim {

struct DriveDesc {
    wchar_t letter = L'C';        // upper case
    std::wstring label;
    std::wstring folder;          // absolute PC path, no trailing backslash
    uint64_t capacity = 0;
    bool freeComputed = true;     // capacity minus the bytes in the folder
    uint64_t freeBytes = 0;
    long media = 6;
    bool removable = false;
    bool readOnly = false;
    std::wstring fileSystem;
    DWORD serial = 0;
};

struct DeviceDesc {
    std::wstring imei;
    std::wstring manufacturer;
    std::wstring model;
    std::wstring name;
    bool connected = true;
    std::vector<DriveDesc> drives;

    const DriveDesc* FindDrive(wchar_t letter) const;
};

struct Description {
    std::wstring path;
    std::vector<DeviceDesc> devices;
    // Extension (lower case, no dot) to MIME type, ahead of the built-in table.
    std::vector<std::pair<std::wstring, std::wstring>> mimeTypes;

    const DeviceDesc* FindDevice(const std::wstring& imei) const;
};

// The file named by MORVANE_PHONESIM_CONFIG, else by the registry value
// HKCU\Software\Morvane\PhoneSim "Config"; empty when neither is set.
std::wstring ConfiguredDescriptionPath();

// Parses the file; on failure error says why.
HRESULT LoadDescriptionFile(const std::wstring& path, Description& out, std::wstring& error);

// The MIME type of a file name by its extension.
std::wstring MimeTypeFor(const Description& description, const std::wstring& fileName);

} // namespace phonesim
