// SPDX-License-Identifier: GPL-3.0-or-later
// avr-sim: runs a device firmware's ELF on a simulated ATmega328P at 16 MHz,
// with its USART0 on a pseudo-terminal that a link names, so that a PC
// program (or a stand-in for one) can open the link as its serial port.
// Buttons are worked by steps from standard input, one a line, each acted on
// as it arrives and answered with a "step done" or "step failed" line.
//
// By default simulated time keeps to the wall clock: the harness runs the
// chip up to the present, passes bytes both ways, and waits for the next
// millisecond. Unpaced (--unpaced), time passes only in the steps that take
// time (wait, tap), as fast as the simulation runs, and what the PC side
// sent reaches the chip at the simulated time of the next step: a test
// that answers over the pty is then exactly as late as it means to be.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "avr_ioport.h"
#include "pins.h"
#include "pty_port.h"
#include "sim_avr.h"
#include "sim_elf.h"
#include "uart_bridge.h"

#define MCU "atmega328p"
#define FREQUENCY 16000000
#define TAP_HOLD_MS 50
#define TAP_GAP_MS 50
#define SYNC_LIMIT_MS 5000  // wall time a sync waits for the PC side's bytes

static const char USAGE[] =
    "usage: avr-sim --link PATH [--pins FILE] [--unpaced] [--trace] FIRMWARE.elf\n"
    "Runs FIRMWARE.elf on a simulated ATmega328P at 16 MHz. Its USART0 (PD0, PD1) is a\n"
    "pseudo-terminal and PATH a link to it, for a PC program to open as its serial port.\n"
    "Steps come on standard input, one a line, each acted on as it arrives and followed\n"
    "by \"step done: STEP (t=MS ms, from PC N, to PC N)\" or \"step failed: STEP: WHY\":\n"
    "  press PIN     hold a button down (its pin to ground)\n"
    "  release PIN   let it go\n"
    "  tap PIN       press it for 50 ms, then leave it released for 50 ms\n"
    "  wait MS       let MS milliseconds pass before the next step\n"
    "  unplug        close the pty and remove the link, as when the adapter is pulled out;\n"
    "                what the chip sends meanwhile is lost\n"
    "  plug          a fresh pty, and the link pointed at it\n"
    "  sync N        wait until N bytes in all have come from the PC side\n"
    "  quit          end the run\n"
    "PIN: a port pin (PD2), a board label (D2, A0), or a name from the --pins file.\n"
    "Options:\n"
    "  --link PATH   made where nothing is or over a link to a pty that has gone; removed at\n"
    "                the end\n"
    "  --pins FILE   the firmware's pin map (PINMAP.txt), for buttons by name\n"
    "  --unpaced     simulated time passes only in wait and tap, as fast as it can; what the\n"
    "                PC side sends reaches the chip at the simulated time of the next step\n"
    "  --trace       a line for each byte when its last bit arrives: \"T -> XX\" to the PC,\n"
    "                \"T <- XX\" to the chip, \"T -> XX dropped\" when nobody took it\n"
    "Without --unpaced the simulation keeps real time. The run ends on quit, Ctrl+C, SIGTERM\n"
    "or SIGHUP and, unpaced, at the end of the input. Exit: 0, 1 if the firmware stopped,\n"
    "2 for bad options, a firmware that does not load or a link refused.\n";

static avr_t *avr;
static struct uart_bridge bridge;
static struct pty_port port;
static FILE *report;  // standard output; simavr's own chatter goes elsewhere
static int paced = 1, tracing;
static volatile sig_atomic_t stop_requested;
static avr_cycle_count_t slept;
static size_t from_pc, to_pc, lost_to_pc;

static struct {
  char text[256];
  enum { IDLE, TIMED, SYNCING } state;
  avr_cycle_count_t until;
  size_t sync_count;
  struct timespec sync_started;
} step;

static struct pin tapped;

static double ms_of(avr_cycle_count_t cycles) { return cycles * 1000.0 / FREQUENCY; }
static avr_cycle_count_t cycles_of_ms(double ms) {
  return (avr_cycle_count_t)(ms * (FREQUENCY / 1000));
}

static double wall_ms_since(const struct timespec *then) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - then->tv_sec) * 1e3 + (now.tv_nsec - then->tv_nsec) / 1e6;
}

static void on_signal(int signal) {
  (void)signal;
  stop_requested = 1;
}

// The chip sleeps: nothing to wait for here, time is kept by the loops.
static void count_sleep(avr_t *avr_, avr_cycle_count_t how_long) {
  (void)avr_;
  slept += how_long;
}

static avr_cycle_count_t stop_here(avr_t *avr_, avr_cycle_count_t when, void *param) {
  (void)avr_, (void)when, (void)param;
  return 0;
}

static void chip_received(uint8_t byte, avr_cycle_count_t at) {
  if (tracing) fprintf(report, "%10.3f <- %02X\n", ms_of(at), byte);
}

static void pass_output(void) {
  struct timed_byte b;
  while (uart_bridge_take(&bridge, &b)) {
    int taken = pty_port_write(&port, b.byte);
    taken ? to_pc++ : lost_to_pc++;
    if (tracing)
      fprintf(report, "%10.3f -> %02X%s\n", ms_of(b.at), b.byte, taken ? "" : " dropped");
  }
}

static void take_input(void) {
  pty_port_watch(&port);
  uint8_t bytes[512];
  size_t n;
  while ((n = pty_port_read(&port, bytes, sizeof bytes)) > 0) {
    from_pc += n;
    uart_bridge_send(&bridge, bytes, n);
  }
}

static int firmware_running(void) { return avr->state != cpu_Done && avr->state != cpu_Crashed; }

// Runs the chip up to `target`, a millisecond at a time, passing its output
// on as each byte arrives.
static void run_until(avr_cycle_count_t target) {
  while (avr->cycle < target && firmware_running() && !stop_requested) {
    avr_cycle_count_t slice = avr->cycle + cycles_of_ms(1);
    if (slice > target) slice = target;
    // A sleeping chip skips ahead to its next timer; this one stops it here.
    avr_cycle_timer_cancel(avr, stop_here, NULL);
    avr_cycle_timer_register(avr, slice - avr->cycle, stop_here, NULL);
    while (avr->cycle < slice && firmware_running()) avr_run(avr);
    pass_output();
  }
}

// A pressed button drives its pin low. simavr sets an input pin with its
// pull-up on back to high whenever the firmware writes to the port, unless
// the pin is marked as driven from outside, so a press is marked so too
// (pressed before the firmware turned the pull-ups on, it still reads low).
static void set_pin(struct pin pin, int pressed) {
  static uint8_t driven[3];  // ports B, C and D: the pins held low
  uint8_t *mask = &driven[pin.port - 'B'];
  *mask = pressed ? *mask | 1 << pin.bit : *mask & ~(1 << pin.bit);
  avr_ioport_external_t external = {.name = pin.port, .mask = *mask, .value = 0};
  avr_ioctl(avr, AVR_IOCTL_IOPORT_SET_EXTERNAL(pin.port), &external);
  avr_raise_irq(avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(pin.port), pin.bit), !pressed);
}

static avr_cycle_count_t release_tapped(avr_t *avr_, avr_cycle_count_t when, void *param) {
  (void)avr_, (void)when, (void)param;
  set_pin(tapped, 0);
  return 0;
}

static void step_done(void) {
  fprintf(report, "step done: %s (t=%.3f ms, from PC %zu, to PC %zu)\n", step.text,
          ms_of(avr->cycle), from_pc, to_pc);
  step.state = IDLE;
}

static void step_failed(const char *why) {
  fprintf(report, "step failed: %s: %s\n", step.text, why);
  step.state = IDLE;
}

static int button_pin(const char *name, struct pin *pin) {
  if (!pin_by_name(name, pin)) return step_failed("no such pin or button name"), 0;
  if (pin->port == 'D' && pin->bit < 2) return step_failed("PD0 and PD1 carry the serial line"), 0;
  return 1;
}

// Reads a whole number of milliseconds or bytes; -1 when it is none.
static long whole_number(const char *text) {
  char *end;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (errno || end == text || *end || n < 0 || n > 100000000) return -1;
  return n;
}

static void start_step(const char *line) {
  snprintf(step.text, sizeof step.text, "%s", line);
  char verb[16] = "", argument[64] = "", extra[2] = "";
  int words = sscanf(line, "%15s %63s %1s", verb, argument, extra);
  if (words <= 0 || verb[0] == '#') return;  // blank lines and comments are no steps
  static const char *const VERBS[] = {"press", "release", "tap",  "wait",
                                      "sync",  "unplug",  "plug", "quit"};
  int known = 0;
  for (size_t i = 0; i < sizeof VERBS / sizeof *VERBS; i++) known |= !strcmp(verb, VERBS[i]);
  if (!known) return step_failed("no such step; see --help");
  int takes_argument = strcmp(verb, "unplug") && strcmp(verb, "plug") && strcmp(verb, "quit");
  if (words != 1 + takes_argument)
    return step_failed(takes_argument ? "needs one argument" : "takes no argument");
  struct pin pin;
  long number;
  if (!strcmp(verb, "press") || !strcmp(verb, "release")) {
    if (!button_pin(argument, &pin)) return;
    set_pin(pin, verb[0] == 'p');
    step_done();
  } else if (!strcmp(verb, "tap")) {
    if (!button_pin(argument, &pin)) return;
    set_pin(pin, 1);
    tapped = pin;
    avr_cycle_timer_register(avr, cycles_of_ms(TAP_HOLD_MS), release_tapped, NULL);
    step.until = avr->cycle + cycles_of_ms(TAP_HOLD_MS + TAP_GAP_MS);
    step.state = TIMED;
  } else if (!strcmp(verb, "wait")) {
    if ((number = whole_number(argument)) < 0) return step_failed("not a number of milliseconds");
    step.until = avr->cycle + cycles_of_ms(number);
    step.state = TIMED;
  } else if (!strcmp(verb, "sync")) {
    if ((number = whole_number(argument)) < 0) return step_failed("not a number of bytes");
    step.sync_count = (size_t)number;
    clock_gettime(CLOCK_MONOTONIC, &step.sync_started);
    step.state = SYNCING;
  } else if (!strcmp(verb, "unplug")) {
    pty_port_unplug(&port);
    uart_bridge_cut(&bridge);
    step_done();
  } else if (!strcmp(verb, "plug")) {
    char why[4400];
    if (port.master >= 0) return step_failed("already plugged in");
    if (!pty_port_plug(&port, why, sizeof why)) return step_failed(why);
    step_done();
  } else {  // quit
    step_done();
    stop_requested = 1;
  }
}

// Ends the step in progress when its time has come or its bytes are in.
static void check_step(void) {
  if (step.state == TIMED && avr->cycle >= step.until) step_done();
  if (step.state != SYNCING) return;
  if (from_pc >= step.sync_count) return step_done();
  if (wall_ms_since(&step.sync_started) > SYNC_LIMIT_MS) {
    char why[96];
    snprintf(why, sizeof why, "%zu bytes from the PC side after %d ms", from_pc, SYNC_LIMIT_MS);
    step_failed(why);
  }
}

// Standard input, a line at a time.
static char input[65536];
static size_t input_length;
static int input_ended;

static void read_input(void) {
  ssize_t n = read(STDIN_FILENO, input + input_length, sizeof input - 1 - input_length);
  if (n > 0) input_length += (size_t)n;
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) input_ended = 1;
  if (input_length == sizeof input - 1 && !memchr(input, '\n', input_length)) input_length = 0;
}

// Starts the next step from what has come in; 0 when no whole line waits.
static int start_next_step(void) {
  char *end = memchr(input, '\n', input_length);
  if (!end && !(input_ended && input_length)) return 0;
  size_t length = end ? (size_t)(end - input) : input_length;
  char line[256];
  snprintf(line, sizeof line, "%.*s", (int)length, input);
  input_length -= end ? length + 1 : length;
  memmove(input, input + (end ? length + 1 : length), input_length);
  start_step(line);
  return 1;
}

// Waits up to `ms` for standard input, or for bytes from the PC side.
static void wait_for_input(int ms) {
  struct pollfd fds[2] = {{input_ended ? -1 : STDIN_FILENO, POLLIN, 0},
                          {port.master >= 0 && port.held ? port.master : -1, POLLIN, 0}};
  if (poll(fds, 2, ms) > 0 && (fds[0].revents & (POLLIN | POLLHUP))) read_input();
}

static void run_paced(void) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!stop_requested && firmware_running()) {
    take_input();
    check_step();
    while (step.state == IDLE && !stop_requested && start_next_step()) check_step();
    run_until(cycles_of_ms(wall_ms_since(&start)));
    fflush(report);
    wait_for_input(1);
  }
}

static void run_unpaced(void) {
  while (!stop_requested && firmware_running()) {
    if (step.state == IDLE) {
      take_input();  // what the PC side sent arrives now, at this step
      if (start_next_step()) continue;
      if (input_ended) break;
      fflush(report);
      wait_for_input(-1);
    } else if (step.state == TIMED) {
      run_until(step.until);
      check_step();
    } else {
      fflush(report);
      wait_for_input(10);
      take_input();
      check_step();
    }
  }
}

static int load(const char *elf_path) {
  elf_firmware_t firmware;
  memset(&firmware, 0, sizeof firmware);
  if (elf_read_firmware(elf_path, &firmware) != 0 || firmware.flashsize == 0) {
    fprintf(stderr, "avr-sim: %s: cannot read the firmware\n", elf_path);
    return 0;
  }
  avr = avr_make_mcu_by_name(MCU);
  if (!avr || avr_init(avr) != 0) {
    fprintf(stderr, "avr-sim: cannot make a simulated %s\n", MCU);
    return 0;
  }
  snprintf(firmware.mmcu, sizeof firmware.mmcu, "%s", MCU);
  firmware.frequency = FREQUENCY;
  avr_load_firmware(avr, &firmware);  // copies the code into the chip's flash
  free(firmware.flash);
  free(firmware.eeprom);
  free(firmware.fuse);
  free(firmware.lockbits);
  for (uint32_t i = 0; i < firmware.symbolcount; i++) free(firmware.symbol[i]);
  free(firmware.symbol);
  avr->frequency = FREQUENCY;
  avr->sleep = count_sleep;
  avr->log = LOG_ERROR;
  return 1;
}

int main(int argc, char **argv) {
  const char *link = NULL, *pins = NULL, *elf_path = NULL;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--help")) return fputs(USAGE, stdout), 0;
    if (!strcmp(argv[i], "--link") && i + 1 < argc) {
      link = argv[++i];
    } else if (!strcmp(argv[i], "--pins") && i + 1 < argc) {
      pins = argv[++i];
    } else if (!strcmp(argv[i], "--unpaced")) {
      paced = 0;
    } else if (!strcmp(argv[i], "--trace")) {
      tracing = 1;
    } else if (argv[i][0] != '-' && !elf_path) {
      elf_path = argv[i];
    } else {
      fprintf(stderr, "avr-sim: %s: not an option here; see --help\n", argv[i]);
      return 2;
    }
  }
  if (!link || !elf_path)
    return fputs("avr-sim: needs --link PATH and FIRMWARE.elf; see --help\n", stderr), 2;
  char why[4400];
  if (pins && !pins_load_map(pins, why, sizeof why))
    return fprintf(stderr, "avr-sim: %s\n", why), 2;

  // Standard output is for steps and bytes; simavr prints its own notes
  // there too, so those go to /dev/null, its errors to standard error.
  report = fdopen(dup(STDOUT_FILENO), "w");
  int null = open("/dev/null", O_WRONLY);
  if (!report || null < 0 || dup2(null, STDOUT_FILENO) < 0) return perror("avr-sim"), 2;
  close(null);
  setvbuf(report, NULL, _IOLBF, 0);

  if (!load(elf_path)) return 2;
  uart_bridge_attach(&bridge, avr);
  bridge.received = chip_received;
  port.link = link;
  port.master = -1;
  if (!pty_port_plug(&port, why, sizeof why))
    return fprintf(stderr, "avr-sim: --link %s\n", why), 2;

  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;  // no SA_RESTART: a signal ends a wait at once
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGHUP, &action, NULL);
  signal(SIGPIPE, SIG_IGN);

  fprintf(report, "avr-sim: %s -> %s: %s on an %s at %d MHz, %s\n", link, port.slave, elf_path, MCU,
          FREQUENCY / 1000000, paced ? "in real time" : "unpaced");
  paced ? run_paced() : run_unpaced();
  int crashed = !firmware_running();
  pty_port_unplug(&port);
  if (crashed) fprintf(stderr, "avr-sim: the firmware stopped at %.3f ms\n", ms_of(avr->cycle));
  fprintf(report,
          "avr-sim: ended at %.3f ms, asleep %.1f %% of the time; %zu bytes to the PC side, %zu "
          "lost, %zu from it",
          ms_of(avr->cycle), avr->cycle ? 100.0 * slept / avr->cycle : 0.0, to_pc, lost_to_pc,
          from_pc);
  if (bridge.dropped)  // more than the line could carry, faster than it carries it
    fprintf(report, "; %zu found the simulated line's queue full and were dropped", bridge.dropped);
  fputc('\n', report);
  fclose(report);
  avr_terminate(avr);
  return crashed ? 1 : 0;
}
