// USART0 at 9600 baud, 8 data bits, odd parity, 1 stop bit, driven by
// interrupts through a small ring each way.
#pragma once

#include <stdint.h>

void uart_start(void);
// Returns 0 when no byte waits.
uint8_t uart_read(uint8_t *byte);
// True when a received byte waits; call with interrupts off.
uint8_t uart_has_input(void);
