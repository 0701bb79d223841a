// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's pins by name: the port and bit (PD2), the label an Arduino Uno
// or Nano gives it (D2, A0), or a button's name from a pin map file.
#pragma once

struct pin {
  char port;  // 'B', 'C' or 'D'
  int bit;
};

// Reads the names of a pin map file, whose button rows begin with the pin
// and the board label, then the name ("PD6  D6  H ..."); 0 with one line in
// `why` when it cannot be read or names nothing.
int pins_load_map(const char *path, char *why, int why_size);
// 0 when the name is none of these.
int pin_by_name(const char *name, struct pin *pin);
