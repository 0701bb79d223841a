#include "clock.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <util/atomic.h>

static volatile uint16_t milliseconds;

ISR(TIMER0_COMPA_vect) { milliseconds++; }

void clock_start(void) {
  // Clear on compare match at 16 MHz / 64 / 250: once a millisecond.
  TCCR0A = _BV(WGM01);
  OCR0A = F_CPU / 64 / 1000 - 1;
  TIMSK0 = _BV(OCIE0A);
  TCCR0B = _BV(CS01) | _BV(CS00);
}

uint16_t clock_now(void) {
  uint16_t now;
  ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { now = milliseconds; }
  return now;
}

uint8_t clock_moved_from(uint16_t then) { return milliseconds != then; }
