// The one way this layer includes the Windows API: without the rarely used
// parts, without the min/max macros that break the standard library, and
// without the DeleteFile macro that would rename platform::DeleteFile.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef DeleteFile
