// The device's side of its conversation with the program.
//
// It identifies (D4) until the program answers (98 02 22): the program says
// nothing for about 11 s after it starts, and answers every identify that
// waited meanwhile, so the surplus answers that follow are ignored. Then it
// types the queued presses one keystroke at a time, each awaited by its FC.
//
// A capital: the query (CC) and an identify go out together; the program
// answers them in that order, so the flags message just before the
// identity is the query's answer. The program's key monitor writes its
// unasked flag reports between poll cycles: one from before the query comes
// before the answer, and one that falls between the two answers (when they
// fall into two cycles) shows the flags as they are after the answer, which
// is as good. Then a flag request of the flags as read with both Shift bits set,
// the key, and once its FC has come, a request of the flags as read: Num
// Lock and the other locks stay as they were.
//
// No FC within FC_TIMEOUT_MS: the program may be gone, restarting or
// reopening its port. The keystroke is not sent again (if only its FC was
// lost, that would type the key twice); the device identifies every
// IDENTIFY_EVERY_MS until the program answers, puts the flags back if it
// held Shift for a capital, and goes on with the next press. The program
// answers in order, so an FC still to come arrives before the answer to an
// identify sent after the keystroke; but an identify sent before it (at
// start, or a capital's while the program was slow) may be answered first,
// so the next press also waits until LATE_FC_MS after the keystroke. An FC
// that comes meanwhile ends the wait.
#pragma once

#include <stdint.h>

#include "key_queue.h"
#include "keys.h"
#include "link.h"
#include "messages.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IDENTIFY_EVERY_MS 1000
#define FC_TIMEOUT_MS 400
#define LATE_FC_MS 3000

enum session_state {
  SESSION_IDENTIFYING,  // at start: identify until the program answers
  SESSION_READY,        // the next press may go
  SESSION_QUERYING,     // a capital's query and identify are out
  SESSION_AWAITING_FC,  // a keystroke is out
  SESSION_RECOVERING    // its FC did not come in time: identify until answered
};

struct session {
  struct key_queue queue;
  struct decoder decoder;
  uint8_t state;
  struct key key;            // the keystroke in progress
  uint16_t sent_at;          // when its query or keystroke went out, in ms
  uint16_t identified_at;    // when the last identify went out
  uint8_t flags;             // the flags of the last flags message received
  uint8_t after_flags;       // the last message received was a flags message
  uint8_t flags_before;      // the flags as read for the capital in progress
  uint8_t shift_held;        // its Shift request went out: put the flags back
  uint8_t program_answered;  // recovering: an identify was answered
  uint8_t late_fc_over;      // recovering: LATE_FC_MS have passed
  uint8_t presses_dropped;   // presses that found the queue full
};

// `now` is a millisecond clock that may wrap around.
void session_start(struct session *s, uint16_t now);
void session_press(struct session *s, uint8_t button);
void session_receive(struct session *s, uint8_t byte, uint16_t now);
// Called once a millisecond: time-outs, and the next keystroke.
void session_tick(struct session *s, uint16_t now);

#ifdef __cplusplus
}
#endif
