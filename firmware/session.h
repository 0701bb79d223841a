// The device's side of its conversation with the program: a state machine
// moved on by what arrives (session_receive) and by a millisecond tick
// (session_tick), which does all the sending.
//
//   state        sends                          leaves when                        for
//   IDENTIFYING  D4, again every 1 s            an identity (98 02 22) comes       READY
//   READY        a closing request owed, then   flags needed, none fresh: CC D4    QUERYING
//                the next press: [opening]      the keystroke is out               AWAITING_FC
//                CC D4 keystroke, in one write
//   QUERYING     CC D4 again every 1 s          the answer comes                   READY
//   AWAITING_FC  nothing                        FC comes                           READY
//                                               400 ms pass                        RECOVERING
//   RECOVERING   D4 at once and every 1 s,      FC comes; or an identity has come  READY
//                until an identity comes        and 3 s have passed since the
//                                               keystroke
//
// The answer to CC D4 is the flags message just before the identity (the
// program answers in order; a report of its key monitor never sits between
// the two). It is fresh for FRESH_MS. A key that needs the flags (a letter,
// or one with modifiers) goes with fresh flags F: when the held bits it
// wants differ from F's, an opening request (F's locks, the wanted held
// bits) goes in the same write, and after the FC a closing request puts
// back the held bits the opening changed as the keystroke's own answer
// shows them, releasing what the device pressed and pressing nothing the
// user may have let go of. No lock key is ever pressed. The keystroke is
// never sent again: without its FC it may have been typed. Once the program
// has said nothing for STALE_PRESS_MS, presses older than that are dropped.
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
#define FRESH_MS 100
#define STALE_PRESS_MS 3000

enum session_state {
  SESSION_IDENTIFYING,
  SESSION_READY,
  SESSION_QUERYING,
  SESSION_AWAITING_FC,
  SESSION_RECOVERING
};

struct session {
  struct key_queue queue;
  struct decoder decoder;
  uint8_t state;
  uint16_t sent_at;          // when the query or keystroke in progress went out
  uint16_t identified_at;    // when the last identify went out
  uint8_t flags;             // the flags of the last answer
  uint16_t flags_at;         // when it came
  uint8_t flags_fresh;       // it came no more than FRESH_MS ago, since the last keystroke
  uint8_t reported;          // the last flags message; an identity next makes it an answer
  uint8_t after_flags;       // the last message received was a flags message
  uint8_t changed;           // held bits an opening changed: a closing request is owed
  uint8_t program_answered;  // recovering: an identify was answered
  uint8_t late_fc_over;      // recovering: LATE_FC_MS have passed
  uint16_t heard_at;         // when the last message came from the program
  uint8_t program_silent;    // nothing has come for STALE_PRESS_MS
};

// `now` is a millisecond clock that may wrap around.
void session_start(struct session *s, uint16_t now);
void session_press(struct session *s, uint8_t button, uint16_t now);
void session_receive(struct session *s, uint8_t byte, uint16_t now);
// Called once a millisecond: time-outs, and what is to be sent.
void session_tick(struct session *s, uint16_t now);

#ifdef __cplusplus
}
#endif
