// The buttons, one row each, in the order of their numbers. A button joins
// its pin to ground while pressed; the pin's internal pull-up holds it high
// otherwise, so no resistor is needed. A row gives the pin (port letter and
// bit: D, 2 is PD2), the key's scan code and virtual-key code, its
// modifiers, and a name that the pin map and the simulator use.
//
// Modifiers: 0 for none; SHIFT for the character as written with Shift (a
// capital letter, or the character above a digit: the firmware types a
// letter in that case whatever the user left Caps Lock at); CTRL and ALT
// for a chord, combined with | (CTRL | SHIFT); a chord ignores Caps Lock.
//
// To make the device your own, edit the rows: a button on any pin of ports
// B, C and D but PD0 and PD1 (the serial line), PB6 and PB7 (the crystal)
// and PC6 (reset); the build refuses those. The comment at each row's end
// is the pin's label on an Arduino Uno or Nano. D13 (PB5) is left free: it
// carries the board's LED, which on many boards loads the pin so that its
// pull-up cannot hold it high.
#pragma once

#define PIN_MAP(BUTTON)                              \
  BUTTON(D, 2, 0x4D, 0x27, 0, right)       /* D2  */ \
  BUTTON(D, 3, 0x4B, 0x25, 0, left)        /* D3  */ \
  BUTTON(D, 4, 0x3F, 0x74, 0, f5)          /* D4  */ \
  BUTTON(D, 5, 0x01, 0x1B, 0, escape)      /* D5  */ \
  BUTTON(D, 6, 0x23, 0x48, SHIFT, H)       /* D6  */ \
  BUTTON(D, 7, 0x12, 0x45, 0, e)           /* D7  */ \
  BUTTON(B, 0, 0x26, 0x4C, 0, l)           /* D8  */ \
  BUTTON(B, 1, 0x18, 0x4F, 0, o)           /* D9  */ \
  BUTTON(B, 2, 0x33, 0xBC, 0, comma)       /* D10 */ \
  BUTTON(B, 3, 0x39, 0x20, 0, space)       /* D11 */ \
  BUTTON(B, 4, 0x11, 0x57, SHIFT, W)       /* D12 */ \
  BUTTON(C, 0, 0x13, 0x52, 0, r)           /* A0  */ \
  BUTTON(C, 1, 0x20, 0x44, 0, d)           /* A1  */ \
  BUTTON(C, 2, 0x02, 0x31, SHIFT, exclaim) /* A2  */ \
  BUTTON(C, 3, 0x1C, 0x0D, 0, enter)       /* A3  */ \
  BUTTON(C, 4, 0x51, 0x22, 0, pagedown)    /* A4  */ \
  BUTTON(C, 5, 0x2C, 0x5A, CTRL, undo)     /* A5  */
