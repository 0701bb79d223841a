// The program's version, in the one place it is written: the version record
// takes both its numbers and its strings from here, and the release archive
// its name.
#pragma once

#define VERSION_NUMBERS 3, 0, 0, 0

#define VERSION_TEXT_OF(...) #__VA_ARGS__
#define VERSION_TEXT_FROM(numbers) VERSION_TEXT_OF(numbers)
#define VERSION_TEXT VERSION_TEXT_FROM(VERSION_NUMBERS)  // "3, 0, 0, 0"
