// The one header that includes <windows.h>. Every Windows file of the
// program includes this one instead, so that all of them see the same
// settings: the lean header, no min and max macros to clash with the
// standard library, and the wide (UTF-16) forms of the API.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>
