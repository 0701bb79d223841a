#include "shared/state.h"

void reportError(LPCSTR text) {
  MessageBoxA(nullptr, text, "TALLIVER for Windows 95", MB_OK | MB_ICONEXCLAMATION);
}
