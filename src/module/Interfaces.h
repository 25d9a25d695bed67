// Client interfaces, events, result codes and our own classes, as generated
// from the type library sources.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include "Morvane.h"
#include "KVFileMgmt.h"
