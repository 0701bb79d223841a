// The Windows entry point. The C runtime hands over the command tail with
// the program's own name and the blanks after it left out.
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandTail,
                   int showCommand) {
  return runApplication(instance, previousInstance, commandTail, showCommand);
}
