// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated chip's USART0 joined to the outside at a serial line's pace:
// bytes for the chip go into its receiver one a byte time apart, and each
// byte the chip sends is due outside when its last bit would arrive. At
// 9600 baud with a start bit, 8 data bits, a parity bit and a stop bit, a
// byte takes 11 bit times, 1.146 ms.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim_avr.h"

#define LINE_BAUD 9600
#define LINE_BITS_PER_BYTE 11
#define INPUT_QUEUE_SIZE 8192
#define OUTPUT_QUEUE_SIZE 1024

struct timed_byte {
  uint8_t byte;
  avr_cycle_count_t at;  // when its last bit arrives
};

struct uart_bridge {
  avr_t *avr;
  avr_irq_t *receiver;
  avr_cycle_count_t byte_cycles;
  uint8_t input[INPUT_QUEUE_SIZE];  // for the chip, not yet on the line
  size_t input_first, input_count;
  int feeding;
  struct timed_byte output[OUTPUT_QUEUE_SIZE];  // from the chip, not yet due
  size_t output_first, output_count;
  void (*received)(uint8_t byte, avr_cycle_count_t at);  // a byte reached the chip
  size_t dropped;                                        // bytes that found a queue full
};

void uart_bridge_attach(struct uart_bridge *b, avr_t *avr);
// Queues bytes for the chip; they start on the line at once, one after another.
void uart_bridge_send(struct uart_bridge *b, const uint8_t *bytes, size_t count);
// Forgets what has not reached the chip yet (the line was unplugged).
void uart_bridge_cut(struct uart_bridge *b);
// The next byte from the chip that has arrived by now; 0 when none.
int uart_bridge_take(struct uart_bridge *b, struct timed_byte *out);
