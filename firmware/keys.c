#include "keys.h"

#include "flash_table.h"

#define KEY_ROW(port, bit, scan, vk, modifiers, name) {scan, vk, modifiers},
static const struct key KEYS[BUTTON_COUNT] FLASH_TABLE = {PIN_MAP(KEY_ROW)};

void key_of_button(uint8_t button, struct key *key) {
  key->scan = read_table_byte(&KEYS[button].scan);
  key->vk = read_table_byte(&KEYS[button].vk);
  key->modifiers = read_table_byte(&KEYS[button].modifiers);
}
