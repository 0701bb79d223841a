// SPDX-License-Identifier: GPL-3.0-or-later
#define _GNU_SOURCE
#include "pty_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

static const char PTY_FOLDER[] = "/dev/pts/";
static const char ONLY[] = "; only a link to a pty that has gone is replaced";

// Where a link points, or "" when the path is no link.
static void link_target(const char *link, char *target, size_t size) {
  ssize_t n = readlink(link, target, size - 1);
  target[n < 0 ? 0 : n] = 0;
}

// The link made where nothing is, or over a link to a pty that has gone
// (an earlier run's): the harness may run as root, and anything else at
// the path is left as it is. 0 with the reason in `why` when it may not or
// cannot be made.
static int point_link(const char *link, const char *target, char *why, size_t why_size) {
  struct stat st;
  if (lstat(link, &st) != 0) {
    if (errno == ENOENT && symlink(target, link) == 0) return 1;
    snprintf(why, why_size, "%s: cannot make a link there: %s", link, strerror(errno));
    return 0;
  }
  if (!S_ISLNK(st.st_mode)) {
    snprintf(why, why_size, "%s is %s%s", link,
             S_ISDIR(st.st_mode)   ? "a folder"
             : S_ISREG(st.st_mode) ? "a file"
                                   : "not a link",
             ONLY);
    return 0;
  }
  char old[4096];
  link_target(link, old, sizeof old);
  if (strncmp(old, PTY_FOLDER, sizeof PTY_FOLDER - 1) != 0) {
    snprintf(why, why_size, "%s is a link to %s, not to a pty%s", link, old, ONLY);
    return 0;
  }
  // A pty's node goes with its master: one still there belongs to a live
  // simulator or tap, whose program would lose its port.
  if (stat(link, &st) == 0) {
    snprintf(why, why_size, "%s is a link to %s, a pty in use (another simulator's or tap's?)%s",
             link, old, ONLY);
    return 0;
  }
  if (unlink(link) != 0) {
    snprintf(why, why_size, "%s: cannot replace the link: %s", link, strerror(errno));
    return 0;
  }
  if (symlink(target, link) == 0) return 1;
  snprintf(why, why_size, "%s: cannot make a link there: %s", link, strerror(errno));
  return 0;
}

int pty_port_plug(struct pty_port *p, char *why, size_t why_size) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, p->slave, sizeof p->slave) != 0) {
    snprintf(why, why_size, "cannot make a pty: %s", strerror(errno));
    if (master >= 0) close(master);
    return 0;
  }
  // Raw until the PC side sets the line up: every byte passes as it is.
  struct termios tio;
  if (tcgetattr(master, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
  }
  // Opened and closed once, the pty reports a hang-up for as long as
  // nobody holds it: that is how the harness sees the PC side come and go.
  int slave = open(p->slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) close(slave);
  if (!point_link(p->link, p->slave, why, why_size)) {
    close(master);
    return 0;
  }
  p->master = master;
  p->held = 0;
  return 1;
}

void pty_port_unplug(struct pty_port *p) {
  if (p->master < 0) return;
  char target[4096];
  link_target(p->link, target, sizeof target);
  if (strcmp(target, p->slave) == 0) unlink(p->link);
  close(p->master);
  p->master = -1;
  p->held = 0;
}

static void drop_unread(struct pty_port *p) {
  int slave = open(p->slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return;
  uint8_t bytes[4096];
  while (read(slave, bytes, sizeof bytes) > 0) {
  }
  tcflush(slave, TCIFLUSH);
  close(slave);
}

// A pty keeps the odd-parity flag a PC side set (it drops only the parity
// enable), and a later request for odd parity then changes nothing, which
// the C library reports as a failure: the next program to open the port
// would find it cannot set the line up. So the flags go when the port is let
// go. The device tool clears them on its program's port the same way
// (tools/device/line.cpp); the code is not shared, this folder's licence
// being its own.
static void clear_parity(struct pty_port *p) {
  struct termios tio;
  if (tcgetattr(p->master, &tio) != 0 || !(tio.c_cflag & (PARENB | PARODD))) return;
  tio.c_cflag &= ~(tcflag_t)(PARENB | PARODD);
  tcsetattr(p->master, TCSANOW, &tio);
}

void pty_port_watch(struct pty_port *p) {
  if (p->master < 0) return;
  struct pollfd pf = {p->master, 0, 0};
  poll(&pf, 1, 0);
  int held = !(pf.revents & POLLHUP);
  if (p->held && !held) {
    drop_unread(p);
    clear_parity(p);
  }
  p->held = held;
}

size_t pty_port_read(struct pty_port *p, uint8_t *bytes, size_t size) {
  if (p->master < 0) return 0;
  ssize_t n = read(p->master, bytes, size);
  return n > 0 ? (size_t)n : 0;  // EAGAIN: nothing yet; EIO: nobody holds it
}

int pty_port_write(struct pty_port *p, uint8_t byte) {
  if (p->master < 0 || !p->held) return 0;
  return write(p->master, &byte, 1) == 1;
}
