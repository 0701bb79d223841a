#include "buttons.h"

#include <avr/io.h>

#include "../flash_table.h"
#include "../keys.h"

enum { PORT_B, PORT_C, PORT_D };

// The build refuses a button on a pin that has another job: PD0 and PD1
// carry the serial line, PB6 and PB7 the crystal, PC6 is the reset.
#define USABLE(port, bit, scan, vk, modifiers, name) \
  *(PORT_##port == PORT_D ? (bit) > 1 : (bit) < 6)
_Static_assert(1 PIN_MAP(USABLE), "a button on PD0, PD1, PB6, PB7 or PC6");

// A pin as one byte: its port in the high bits, its bit in the low three.
#define PIN_ROW(port, bit, scan, vk, modifiers, name) (PORT_##port << 3 | (bit)),
static const uint8_t PINS[BUTTON_COUNT] FLASH_TABLE = {PIN_MAP(PIN_ROW)};

// The pins of one port as a mask, worked out by the compiler.
#define ON_PORT_B(port, bit, scan, vk, modifiers, name) | (PORT_##port == PORT_B ? 1 << (bit) : 0)
#define ON_PORT_C(port, bit, scan, vk, modifiers, name) | (PORT_##port == PORT_C ? 1 << (bit) : 0)
#define ON_PORT_D(port, bit, scan, vk, modifiers, name) | (PORT_##port == PORT_D ? 1 << (bit) : 0)

void buttons_start(void) {
  // Pins are inputs after reset; a set output bit turns the pull-up on.
  PORTB = 0 PIN_MAP(ON_PORT_B);
  PORTC = 0 PIN_MAP(ON_PORT_C);
  PORTD = 0 PIN_MAP(ON_PORT_D);
}

uint8_t button_reads_down(uint8_t button) {
  uint8_t pin = read_table_byte(&PINS[button]);
  uint8_t levels = pin >> 3 == PORT_B ? PINB : pin >> 3 == PORT_C ? PINC : PIND;
  return !(levels & (1 << (pin & 7)));
}
