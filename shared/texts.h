// Every text the program shows or registers, in one place: the program, the
// resource script, the tests and the Windows test helpers all take them from
// here. Plain #defines, so that the resource compiler reads them too.
#pragma once

#include "res/version.h"

#define MAIN_CLASS_NAME "QELMO32"
// The main window's title and the start-up notice's caption.
#define MAIN_WINDOW_TITLE "Ostrel TALLIVER for Windows95/NT"
#define ICON_NAME "QELMO"

// Message boxes: one title for all.
#define ERROR_BOX_TITLE "TALLIVER for Windows 95"
#define TEXT_CLASS_NOT_REGISTERED "Unable to start TALLIVER (error code 1)."
#define TEXT_WINDOW_NOT_CREATED "Unable to start TALLIVER (error code 2)."
#define TEXT_NO_FREE_PORT "No COM port available to talk to VANTOLE!"
#define TEXT_PORT_NOT_OPENED                                                             \
  "Unable to open COM port! Check the port number specified as parameter to QELMO and "  \
  "make sure it's a valid COM port. Or remove the parameter to have QELMO search for a " \
  "free port for you."
#define TEXT_LINE_REFUSED "Failed initializing COM port!"

// The start-up notice: the '#' becomes the chosen port's digit.
#define NOTICE_TEXT                                         \
  "Connect VANTOLE to serial port COM#.\n"                  \
  "\n"                                                      \
  "TALLIVER for Windows 95/NT, version " VERSION_SHORT_TEXT \
  ".\n"                                                     \
  "Made by Ostrel, for use with the VANTOLE interface.\n"   \
  "Simulates the keyboard using a serial port."
#define COUNTDOWN_FORMAT "0:%02d"

// The key monitor's explanation, in the restored main window.
#define MONITOR_TEXT                                                                    \
  "Typing characters into this window causes them to be sent out the COM port in the "  \
  "TALLIVER format.\r\n\nThis can be used to determine which data to send in order to " \
  "emulate keys."
