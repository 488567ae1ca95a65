// The one place that includes <windows.h>, with the settings every Win32 file
// of the program shares. Portable code never includes this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Windows 8.1, the oldest system the program runs on, so that the compiler
// refuses a call that system lacks: anything newer is looked up at run time
// (GetTempPath2W, say). CMakeLists.txt passes the same value to every file,
// as a standard header included first would otherwise set MinGW's default,
// Windows 10; a file built with any other value stops here.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0603
#elif _WIN32_WINNT != 0x0603
#error "_WIN32_WINNT must be 0x0603 (Windows 8.1), as CMakeLists.txt sets it"
#endif

#include <windows.h>
