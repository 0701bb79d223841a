#include "uart.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <util/atomic.h>

#include "../link.h"

#define BAUD 9600
#include <util/setbaud.h>

// Sizes are powers of two. The input ring holds what arrives while a write
// waits for room (a few ms at most); the output ring two whole messages.
#define INPUT_SIZE 32
#define OUTPUT_SIZE 16

static volatile uint8_t input[INPUT_SIZE], input_first, input_count;
static volatile uint8_t output[OUTPUT_SIZE], output_first, output_count;

void uart_start(void) {
  UBRR0H = UBRRH_VALUE;
  UBRR0L = UBRRL_VALUE;
#if USE_2X
  UCSR0A = _BV(U2X0);
#else
  UCSR0A = 0;
#endif
  UCSR0C = _BV(UPM01) | _BV(UPM00)       // odd parity
           | _BV(UCSZ01) | _BV(UCSZ00);  // 8 data bits; 1 stop bit (USBS0 clear)
  UCSR0B = _BV(RXCIE0) | _BV(RXEN0) | _BV(TXEN0);
}

ISR(USART_RX_vect) {
  uint8_t status = UCSR0A;
  uint8_t byte = UDR0;
  // A byte that arrived with a parity or framing error is not what was
  // sent: it is dropped, and the decoder finds the next header by itself.
  if (status & (_BV(FE0) | _BV(UPE0))) return;
  if (input_count == INPUT_SIZE) return;
  input[(uint8_t)(input_first + input_count) % INPUT_SIZE] = byte;
  input_count++;
}

ISR(USART_UDRE_vect) {
  if (output_count == 0) {
    UCSR0B &= (uint8_t)~_BV(UDRIE0);
    return;
  }
  UDR0 = output[output_first];
  output_first = (uint8_t)(output_first + 1) % OUTPUT_SIZE;
  output_count--;
}

uint8_t uart_read(uint8_t *byte) {
  uint8_t got = 0;
  ATOMIC_BLOCK(ATOMIC_RESTORESTATE) {
    if (input_count) {
      *byte = input[input_first];
      input_first = (uint8_t)(input_first + 1) % INPUT_SIZE;
      input_count--;
      got = 1;
    }
  }
  return got;
}

uint8_t uart_has_input(void) { return input_count != 0; }

// Waits, asleep, until there is room for all the bytes, then queues them
// at once: a message never leaves in pieces with other bytes between.
void link_write(const uint8_t *bytes, uint8_t count) {
  for (;;) {
    cli();
    if (OUTPUT_SIZE - output_count >= count) break;
    sleep_enable();
    sei();
    sleep_cpu();  // the transmitter's interrupt wakes it
    sleep_disable();
  }
  for (uint8_t i = 0; i < count; i++)
    output[(uint8_t)(output_first + output_count + i) % OUTPUT_SIZE] = bytes[i];
  output_count += count;
  UCSR0B |= _BV(UDRIE0);
  sei();
}
