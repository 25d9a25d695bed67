// The connector as the object model sees it: path resolution to storage and
// object-model objects, implemented by SymbianConnector.
#pragma once

class DeviceConnector {
public:
    virtual ~DeviceConnector() = default;
};
