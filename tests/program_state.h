// The program's process-wide state as a fresh process has it, restored in
// one place for the unit tests and the fuzzer.
#pragma once

#include <cstddef>

// One variable of the program's state: its name as the linker lists it,
// and how to give it the value it starts the process with.
struct StateVariable {
  const char *name;
  void (*reset)();
};

// Every mutable global of the program. A unit test compares this list with
// the globals in the program's objects, so a new one cannot be left out.
extern const StateVariable PROGRAM_STATE[];
extern const size_t PROGRAM_STATE_SIZE;

// Every variable of PROGRAM_STATE as at the start of the process.
void resetProgramState();
