// The server's object map, identity and registration.
#pragma once

#include <windows.h>
#include "com/ComClassFactory.h"
#include "com/ComRegistry.h"

namespace morvane {

// {91ABE3C0-545A-48C6-96EB-4C4AF193C179}
extern const GUID APPID_Morvane;

com::ObjectMap& ObjectMap();
const com::ServerRegistration& Registration();

} // namespace morvane
