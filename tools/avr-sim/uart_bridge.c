// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart_bridge.h"

#include "avr_uart.h"
#include "sim_time.h"

static void chip_sent(struct avr_irq_t *irq, uint32_t value, void *param) {
  (void)irq;
  struct uart_bridge *b = param;
  if (b->output_count == OUTPUT_QUEUE_SIZE) {
    b->dropped++;
    return;
  }
  struct timed_byte *slot = &b->output[(b->output_first + b->output_count++) % OUTPUT_QUEUE_SIZE];
  slot->byte = (uint8_t)value;
  slot->at = b->avr->cycle + b->byte_cycles;
}

// One byte onto the line; called again a byte time later while bytes wait.
static avr_cycle_count_t feed_chip(avr_t *avr, avr_cycle_count_t when, void *param) {
  (void)avr;
  struct uart_bridge *b = param;
  if (b->input_count == 0) {
    b->feeding = 0;
    return 0;
  }
  uint8_t byte = b->input[b->input_first];
  b->input_first = (b->input_first + 1) % INPUT_QUEUE_SIZE;
  b->input_count--;
  avr_raise_irq(b->receiver, byte);
  if (b->received) b->received(byte, when + b->byte_cycles);
  return when + b->byte_cycles;
}

void uart_bridge_attach(struct uart_bridge *b, avr_t *avr) {
  b->avr = avr;
  b->byte_cycles = (avr_cycle_count_t)avr->frequency * LINE_BITS_PER_BYTE / LINE_BAUD;
  // Neither simavr's console printing nor its wall-clock pause while the
  // chip polls for a byte: this harness keeps time itself.
  uint32_t flags = 0;
  avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  b->receiver = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                          chip_sent, b);
}

void uart_bridge_send(struct uart_bridge *b, const uint8_t *bytes, size_t count) {
  for (size_t i = 0; i < count; i++) {
    if (b->input_count == INPUT_QUEUE_SIZE) {
      b->dropped++;
      continue;
    }
    b->input[(b->input_first + b->input_count++) % INPUT_QUEUE_SIZE] = bytes[i];
  }
  if (b->input_count && !b->feeding) {
    b->feeding = 1;
    avr_cycle_timer_register(b->avr, 1, feed_chip, b);
  }
}

void uart_bridge_cut(struct uart_bridge *b) {
  b->input_count = 0;  // the timer, if running, finds nothing and stops
}

int uart_bridge_take(struct uart_bridge *b, struct timed_byte *out) {
  if (b->output_count == 0 || b->output[b->output_first].at > b->avr->cycle) return 0;
  *out = b->output[b->output_first];
  b->output_first = (b->output_first + 1) % OUTPUT_QUEUE_SIZE;
  b->output_count--;
  return 1;
}
