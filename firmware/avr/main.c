// The reference device: buttons to keystrokes over the serial line. Each
// millisecond it samples the buttons, queues what has been pressed and lets
// the session act on time-outs and the next keystroke; bytes from the
// program go to the session as they come. In between it sleeps.
#include <avr/interrupt.h>
#include <avr/sleep.h>

#include "../debounce.h"
#include "../session.h"
#include "buttons.h"
#include "clock.h"
#include "uart.h"

static struct session session;
static struct debounce debounce;

// Sleeps until an interrupt, unless there is work already: a received byte,
// or a millisecond gone by since `sampled`. Idle sleep keeps the timer and
// the UART running, and either wakes the chip.
static void sleep_until_work(uint16_t sampled) {
  cli();
  if (!uart_has_input() && !clock_moved_from(sampled)) {
    sleep_enable();
    sei();
    sleep_cpu();
    sleep_disable();
  }
  sei();
}

int main(void) {
  set_sleep_mode(SLEEP_MODE_IDLE);
  buttons_start();
  clock_start();
  uart_start();
  sei();
  uint16_t sampled = clock_now();
  session_start(&session, sampled);
  for (;;) {
    uint8_t byte;
    while (uart_read(&byte)) session_receive(&session, byte, clock_now());
    uint16_t now = clock_now();
    if (now != sampled) {
      sampled = now;
      for (uint8_t button = 0; button < BUTTON_COUNT; button++)
        if (debounce_sample(&debounce, button, button_reads_down(button)))
          session_press(&session, button, now);
      session_tick(&session, now);
    }
    sleep_until_work(sampled);
  }
}
