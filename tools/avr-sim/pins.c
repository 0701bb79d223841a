// SPDX-License-Identifier: GPL-3.0-or-later
#include "pins.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#define MAX_NAMES 64

static struct {
  char name[32];
  struct pin pin;
} names[MAX_NAMES];
static int name_count;

// PD2 and the like.
static int pin_of_port_name(const char *text, struct pin *pin) {
  if (strlen(text) != 3 || text[0] != 'P' || !strchr("BCD", text[1]) || text[2] < '0' ||
      text[2] > '7')
    return 0;
  pin->port = text[1];
  pin->bit = text[2] - '0';
  return 1;
}

// D0-D13 and A0-A5, as the board labels them.
static int pin_of_board_label(const char *text, struct pin *pin) {
  int number;
  char end;
  if (sscanf(text + 1, "%d%c", &number, &end) != 1 || number < 0) return 0;
  if (text[0] == 'D' && number <= 7) return pin->port = 'D', pin->bit = number, 1;
  if (text[0] == 'D' && number <= 13) return pin->port = 'B', pin->bit = number - 8, 1;
  if (text[0] == 'A' && number <= 5) return pin->port = 'C', pin->bit = number, 1;
  return 0;
}

int pins_load_map(const char *path, char *why, int why_size) {
  FILE *f = fopen(path, "r");
  if (!f) return snprintf(why, why_size, "--pins %s: %s", path, strerror(errno)), 0;
  char line[256], pin_text[8], board[8], name[32];
  while (fgets(line, sizeof line, f) && name_count < MAX_NAMES) {
    struct pin pin;
    if (sscanf(line, "%7s %7s %31s", pin_text, board, name) == 3 &&
        pin_of_port_name(pin_text, &pin)) {
      strcpy(names[name_count].name, name);
      names[name_count++].pin = pin;
    }
  }
  fclose(f);
  if (name_count == 0) return snprintf(why, why_size, "--pins %s: no pin rows in it", path), 0;
  return 1;
}

int pin_by_name(const char *name, struct pin *pin) {
  for (int i = 0; i < name_count; i++)
    if (strcmp(names[i].name, name) == 0) return *pin = names[i].pin, 1;
  return pin_of_port_name(name, pin) || pin_of_board_label(name, pin);
}
