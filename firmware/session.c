#include "session.h"

#define SHIFT_BITS 0x03  // the program holds Shift while either is set

static void identify(struct session *s, uint16_t now) {
  static const uint8_t IDENTIFY[] = {ONE_BYTE_MESSAGE(CMD_IDENTIFY)};
  static const uint8_t QUERY_AND_IDENTIFY[] = {ONE_BYTE_MESSAGE(CMD_QUERY_MODIFIERS),
                                               ONE_BYTE_MESSAGE(CMD_IDENTIFY)};
  if (s->state == SESSION_QUERYING)
    link_write(QUERY_AND_IDENTIFY, sizeof QUERY_AND_IDENTIFY);
  else
    link_write(IDENTIFY, sizeof IDENTIFY);
  s->identified_at = now;
}

static void request_flags(uint8_t flags) {
  uint8_t message[3];
  encode_message(CMD_MODIFIER_FLAGS, 0, flags, message);
  link_write(message, sizeof message);
}

static void start_keystroke(struct session *s, uint16_t now) {
  uint8_t button;
  if (!key_queue_pop(&s->queue, &button)) return;
  key_of_button(button, &s->key);
  s->sent_at = now;
  if (s->key.shifted) {
    s->state = SESSION_QUERYING;
    identify(s, now);
    return;
  }
  uint8_t message[3];
  encode_message(CMD_KEY_STROKE, s->key.scan, s->key.vk, message);
  link_write(message, sizeof message);
  s->state = SESSION_AWAITING_FC;
}

// The query is answered: Shift down and the key, in one write, so that the
// program takes both in the same poll cycle or in two that follow.
static void send_capital(struct session *s, uint16_t now) {
  uint8_t messages[6];
  encode_message(CMD_MODIFIER_FLAGS, 0, s->flags | SHIFT_BITS, messages);
  encode_message(CMD_KEY_STROKE, s->key.scan, s->key.vk, messages + 3);
  link_write(messages, sizeof messages);
  s->flags_before = s->flags;
  s->shift_held = 1;
  s->sent_at = now;
  s->state = SESSION_AWAITING_FC;
}

static void finish_keystroke(struct session *s) {
  if (s->shift_held) request_flags(s->flags_before);
  s->shift_held = 0;
  s->state = SESSION_READY;
}

void session_start(struct session *s, uint16_t now) {
  s->state = SESSION_IDENTIFYING;
  identify(s, now);
}

void session_press(struct session *s, uint8_t button) {
  if (!key_queue_push(&s->queue, button) && s->presses_dropped < 0xFF) s->presses_dropped++;
}

void session_receive(struct session *s, uint8_t byte, uint16_t now) {
  struct message m;
  if (!decode_byte(&s->decoder, byte, &m)) return;
  uint8_t after_flags = s->after_flags;
  s->after_flags = 0;
  if (m.three_byte && m.command == CMD_MODIFIER_FLAGS) {
    s->flags = m.data2;
    s->after_flags = 1;
    return;
  }
  if (!m.three_byte && m.command == CMD_KEY_DONE) {
    if (s->state == SESSION_AWAITING_FC || s->state == SESSION_RECOVERING) finish_keystroke(s);
    return;
  }
  // Keystroke echoes from the key monitor, and anything else, change nothing.
  if (!m.three_byte || m.command != CMD_IDENTITY || m.data1 != IDENTITY_DATA1 ||
      m.data2 != IDENTITY_DATA2)
    return;
  if (s->state == SESSION_IDENTIFYING) {
    s->state = SESSION_READY;
  } else if (s->state == SESSION_QUERYING) {
    // An identity after anything but flags answers an earlier identify.
    if (after_flags) send_capital(s, now);
  } else if (s->state == SESSION_RECOVERING) {
    s->program_answered = 1;
    if (s->late_fc_over) finish_keystroke(s);
  }
}

void session_tick(struct session *s, uint16_t now) {
  uint16_t since_sent = now - s->sent_at;
  uint8_t identify_due = (uint16_t)(now - s->identified_at) >= IDENTIFY_EVERY_MS;
  switch (s->state) {
    case SESSION_READY: start_keystroke(s, now); break;
    case SESSION_IDENTIFYING:
    case SESSION_QUERYING:
      if (identify_due) identify(s, now);
      break;
    case SESSION_AWAITING_FC:
      if (since_sent < FC_TIMEOUT_MS) break;
      s->state = SESSION_RECOVERING;
      s->program_answered = 0;
      s->late_fc_over = 0;
      identify(s, now);
      break;
    case SESSION_RECOVERING:
      // Kept as a flag, checked every millisecond, so that a clock that
      // wraps around during a long absence cannot undo it.
      if (since_sent >= LATE_FC_MS) s->late_fc_over = 1;
      if (s->program_answered && s->late_fc_over)
        finish_keystroke(s);
      else if (!s->program_answered && identify_due)
        identify(s, now);
      break;
  }
}
