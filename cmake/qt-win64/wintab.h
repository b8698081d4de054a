/* Wine's wintab.h (LGPL-2.1-or-later, from libwine-dev) for Qt's tablet
 * support, which Debian's source package leaves out. Wine's header uses two
 * macros of Wine's own headers, and Qt uses the API calling-convention macro
 * of the Wintab SDK's header; they are defined here as those headers do. */
#ifndef MULTIBUF_WINTAB_SHIM_H
#define MULTIBUF_WINTAB_SHIM_H
#include <windows.h>
#ifndef WINELIB_NAME_AW
#ifdef UNICODE
#define WINELIB_NAME_AW(name) name##W
#else
#define WINELIB_NAME_AW(name) name##A
#endif
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#ifndef API
#define API WINAPI
#endif
#include "wine-wintab.h"
#endif
