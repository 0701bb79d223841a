// The device's end of the serial line: a fresh pseudo-terminal whose slave
// the Windows program opens as its COM port, through a symbolic link.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace device {

class PacedPump;

class PtyLine {
 public:
  enum Kind {
    // The simulator's line: bytes sent before the program opens the port wait
    // for it, and the pty keeps XON/XOFF on until the program turns it off,
    // so a program that forgets to is caught.
    SIMULATOR,
    // The tap's: raw from the moment it exists, and it tells whether a
    // program holds it, so that bytes for a closed port can be dropped.
    PORT,
  };
  // Creates the pty and points `link` at its slave (see link_file.h);
  // throws with one line naming the path when it may not. `paced`: at
  // 9600 8O1's pace both ways (SIMULATOR only; the tap paces itself).
  PtyLine(const std::string &link, Kind kind, bool paced = false);
  // Closes the pty and removes the link.
  ~PtyLine();
  PtyLine(const PtyLine &) = delete;
  PtyLine &operator=(const PtyLine &) = delete;

  const std::string &slaveName() const { return slave_; }
  int fd() const { return master_; }
  // A program has the port open (PORT only).
  bool programHolds() const;
  // PORT, once the program has closed the port: takes out and returns what
  // it left unread. A pty keeps those bytes for whoever opens it next; a
  // closed COM port keeps nothing for the next program.
  std::vector<uint8_t> takeUnread();
  // Writes all of the bytes, waiting while the line's buffer is full.
  void write(const std::vector<uint8_t> &bytes);
  // Writes what fits in the line's buffer now; returns how many bytes.
  size_t tryWrite(const std::vector<uint8_t> &bytes);
  // A pty keeps the parity a program sets, though it means nothing to it, and
  // Wine then refuses the next program's line settings as changing nothing.
  // Clearing it lets the program close the port and open it again.
  void clearParity();
  // Bytes the program wrote, waiting at most until the deadline for the first.
  std::vector<uint8_t> read(std::chrono::steady_clock::time_point deadline);
  bool paced() const { return pump_ != nullptr; }
  // Paced: the most bytes seen waiting in the program's output at once.
  size_t mostWaiting() const;

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;  // SIMULATOR: keeps the line up while the program reopens it
  std::string slave_, link_;
  std::unique_ptr<PacedPump> pump_;
};

}  // namespace device
