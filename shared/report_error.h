// The one way the program reports a failure to start.
#pragma once

#include <windows.h>

// A modal warning box with no owner, titled ERROR_BOX_TITLE; returns when
// the user closes it.
void reportError(LPCSTR text);
