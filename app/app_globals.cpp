#include "app/app_globals.h"

HINSTANCE ModuleInstance = nullptr;
HBRUSH RedHighlightBrush = nullptr;
HICON LargeAppIcon = nullptr;
HICON SmallAppIcon = nullptr;
