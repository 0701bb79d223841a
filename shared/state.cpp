#include "shared/state.h"

HINSTANCE appInstance;
HWND mainWindow;
UINT_PTR pollTimerId;
HANDLE portHandle;
