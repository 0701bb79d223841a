// The device's end of the serial line: a fresh pseudo-terminal whose slave
// the Windows program opens as its COM port, through a symbolic link.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace device {

class PtyLine {
 public:
  // Creates the pty and points `link` at its slave (replacing any old link).
  explicit PtyLine(const std::string &link);
  ~PtyLine();
  PtyLine(const PtyLine &) = delete;
  PtyLine &operator=(const PtyLine &) = delete;

  const std::string &slaveName() const { return slave_; }
  int fd() const { return master_; }
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

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the line up while the program reopens it
  std::string slave_;
};

}  // namespace device
