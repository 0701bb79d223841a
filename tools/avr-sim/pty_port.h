// SPDX-License-Identifier: GPL-3.0-or-later
// The device's serial port as the PC sees it: a pseudo-terminal whose name
// a link gives. It can be unplugged (the pty closed, the link removed) and
// plugged in again (a fresh pty, the link pointed at it).
#pragma once

#include <stddef.h>
#include <stdint.h>

struct pty_port {
  const char *link;
  int master;  // -1 while unplugged
  char slave[64];
  int held;  // a PC side holds the port open
};

// Makes a fresh pty and points the link at it. The link is made where
// nothing is, and only a link to a pty that has gone (an earlier run's) is
// replaced; 0 with one line in `why` otherwise, everything left as it was.
int pty_port_plug(struct pty_port *p, char *why, size_t why_size);
// Closes the pty and removes the link, if it still points at it.
void pty_port_unplug(struct pty_port *p);
// Notes whether a PC side holds the port. When it lets go, what it left
// unread is dropped, as a closed serial port drops it.
void pty_port_watch(struct pty_port *p);
// Reads what the PC side sent, without waiting; 0 when nothing.
size_t pty_port_read(struct pty_port *p, uint8_t *bytes, size_t size);
// Sends a byte to the PC side; 0 when it is dropped: unplugged, nobody
// holds the port, or the PC side leaves its bytes unread.
int pty_port_write(struct pty_port *p, uint8_t byte);
