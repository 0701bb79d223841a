#include "session.h"

#define LOCKS 0xF0  // Insert, Caps Lock, Num Lock, Scroll Lock: toggled
#define HELD 0x0F   // Alt, Ctrl, Shift twice: held
#define CAPS_LOCK 0x40

static const uint8_t QUERY_AND_IDENTIFY[] = {ONE_BYTE_MESSAGE(CMD_QUERY_MODIFIERS),
                                             ONE_BYTE_MESSAGE(CMD_IDENTIFY)};

static void identify(struct session *s, uint16_t now) {
  static const uint8_t IDENTIFY[] = {ONE_BYTE_MESSAGE(CMD_IDENTIFY)};
  if (s->state == SESSION_QUERYING)
    link_write(QUERY_AND_IDENTIFY, sizeof QUERY_AND_IDENTIFY);
  else
    link_write(IDENTIFY, sizeof IDENTIFY);
  s->identified_at = now;
}

static void query(struct session *s, uint16_t now) {
  s->state = SESSION_QUERYING;
  s->sent_at = now;
  identify(s, now);
}

static uint8_t is_letter(uint8_t vk) { return vk >= 'A' && vk <= 'Z'; }

// A letter's case depends on Caps Lock, and a key with modifiers needs the
// held keys as they are: either needs the flags. Any other key follows
// whatever the user holds.
static uint8_t needs_flags(const struct key *k) { return is_letter(k->vk) || k->modifiers; }

// The held bits a key is typed with: its own modifiers, with Shift flipped
// for a letter typed alone while Caps Lock is on (Shift inverts Caps Lock
// for letters). A chord is the same chord whatever the lock.
static uint8_t wanted(const struct key *k, uint8_t flags) {
  uint8_t held = k->modifiers;
  if (is_letter(k->vk) && !(held & (CTRL | ALT)) && (flags & CAPS_LOCK)) held ^= SHIFT;
  return held;
}

static void send_keystroke(struct session *s, const struct key *k, uint16_t now) {
  uint8_t bytes[8], n = 0;
  if (needs_flags(k)) {
    uint8_t held = wanted(k, s->flags);
    s->changed = held ^ (s->flags & HELD);
    if (s->changed) {
      encode_message(CMD_MODIFIER_FLAGS, 0, (s->flags & LOCKS) | held, bytes);
      n = 3;
    }
  }
  // The query with every keystroke: its answer, in the keystroke's own
  // tick, gives the closing request and the next key their flags.
  bytes[n++] = QUERY_AND_IDENTIFY[0];
  bytes[n++] = QUERY_AND_IDENTIFY[1];
  encode_message(CMD_KEY_STROKE, k->scan, k->vk, bytes + n);
  link_write(bytes, n + 3);
  key_queue_drop(&s->queue);
  s->flags_fresh = 0;
  s->sent_at = now;
  s->state = SESSION_AWAITING_FC;
}

// Locks as read, held keys as read but for those the opening changed: a
// key the device pressed is released, and a key the user held and the
// device released is left up (the keyboard's repeat puts it back while the
// user still holds it; pressing it here could leave it stuck).
static void send_closing(struct session *s) {
  uint8_t bytes[3];
  s->flags = (s->flags & LOCKS) | (s->flags & HELD & ~s->changed);
  encode_message(CMD_MODIFIER_FLAGS, 0, s->flags, bytes);
  link_write(bytes, sizeof bytes);
  s->changed = 0;
}

static void go_on(struct session *s, uint16_t now) {
  if (s->changed) {
    if (!s->flags_fresh) return query(s, now);
    send_closing(s);
  }
  const struct press *p = key_queue_first(&s->queue);
  if (!p) return;
  struct key k;
  key_of_button(p->button, &k);
  if (needs_flags(&k) && !s->flags_fresh) return query(s, now);
  send_keystroke(s, &k, now);
}

static void drop_stale_presses(struct session *s, uint16_t now) {
  const struct press *p;
  while ((p = key_queue_first(&s->queue)) && (uint16_t)(now - p->at) >= STALE_PRESS_MS)
    key_queue_drop(&s->queue);
}

void session_start(struct session *s, uint16_t now) {
  s->state = SESSION_IDENTIFYING;
  identify(s, now);
}

void session_press(struct session *s, uint8_t button, uint16_t now) {
  key_queue_push(&s->queue, button, now);
}

void session_receive(struct session *s, uint8_t byte, uint16_t now) {
  struct message m;
  if (!decode_byte(&s->decoder, byte, &m)) return;
  s->heard_at = now;
  s->program_silent = 0;
  uint8_t after_flags = s->after_flags;
  s->after_flags = 0;
  if (m.three_byte && m.command == CMD_MODIFIER_FLAGS) {
    s->reported = m.data2;
    s->after_flags = 1;
    return;
  }
  if (!m.three_byte && m.command == CMD_KEY_DONE) {
    if (s->state == SESSION_AWAITING_FC || s->state == SESSION_RECOVERING) s->state = SESSION_READY;
    return;
  }
  // Keystroke echoes from the key monitor, and anything else, change nothing.
  if (!m.three_byte || m.command != CMD_IDENTITY || m.data1 != IDENTITY_DATA1 ||
      m.data2 != IDENTITY_DATA2)
    return;
  // An identity after anything but flags answers an identify sent alone.
  if (after_flags) {
    s->flags = s->reported;
    s->flags_at = now;
    s->flags_fresh = 1;
  }
  if (s->state == SESSION_IDENTIFYING || (s->state == SESSION_QUERYING && after_flags))
    s->state = SESSION_READY;
  else if (s->state == SESSION_RECOVERING)
    s->program_answered = 1;
}

void session_tick(struct session *s, uint16_t now) {
  if ((uint16_t)(now - s->flags_at) > FRESH_MS) s->flags_fresh = 0;
  uint16_t since_sent = now - s->sent_at;
  uint8_t identify_due = (uint16_t)(now - s->identified_at) >= IDENTIFY_EVERY_MS;
  // Once the program has been silent for STALE_PRESS_MS (gone, restarting,
  // unplugged), a press waits that long at most: it was meant for a moment
  // that has passed, and a program just started would type it into its own
  // window. Kept as a flag, checked every millisecond, like late_fc_over.
  if ((uint16_t)(now - s->heard_at) >= STALE_PRESS_MS) s->program_silent = 1;
  if (s->program_silent) drop_stale_presses(s, now);
  switch (s->state) {
    case SESSION_READY: go_on(s, now); break;
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
      // wraps around during a long absence cannot undo it. The program
      // answers in order, so an FC still to come arrives before the answer
      // to an identify sent after the keystroke; one sent before it may be
      // answered first, hence the wait.
      if (since_sent >= LATE_FC_MS) s->late_fc_over = 1;
      if (s->program_answered && s->late_fc_over) {
        s->state = SESSION_READY;
        go_on(s, now);
      } else if (!s->program_answered && identify_due)
        identify(s, now);
      break;
  }
}
