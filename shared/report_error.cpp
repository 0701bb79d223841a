#include "shared/report_error.h"

#include "shared/texts.h"

void reportError(LPCSTR text) {
  MessageBoxA(nullptr, text, ERROR_BOX_TITLE, MB_OK | MB_ICONEXCLAMATION);
}
