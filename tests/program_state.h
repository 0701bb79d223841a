// The program's process-wide state as a fresh process has it, restored in
// one place for the unit tests and the fuzzer.
#pragma once

// Every mutable global of the program as at the start of the process; a new
// global of the program's goes in here too.
void resetProgramState();
