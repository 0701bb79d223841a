// The program's version, in the one place it is written: the version record
// takes both its numbers and its strings from here, the start-up notice its
// "version 3.0", and the release archive its name.
#pragma once

#define VERSION_NUMBERS 3, 0, 0, 0

#define VERSION_TEXT_OF(...) #__VA_ARGS__
#define VERSION_TEXT_FROM(numbers) VERSION_TEXT_OF(numbers)
#define VERSION_TEXT VERSION_TEXT_FROM(VERSION_NUMBERS)  // "3, 0, 0, 0"

// The numbers one by one: the list is expanded before the part is taken.
#define VERSION_PART_1(a, b, c, d) a
#define VERSION_PART_2(a, b, c, d) b
#define VERSION_PICK(part, numbers) part(numbers)
#define VERSION_MAJOR VERSION_PICK(VERSION_PART_1, VERSION_NUMBERS)
#define VERSION_MINOR VERSION_PICK(VERSION_PART_2, VERSION_NUMBERS)
// "3.0"
#define VERSION_SHORT_TEXT VERSION_TEXT_FROM(VERSION_MAJOR) "." VERSION_TEXT_FROM(VERSION_MINOR)
