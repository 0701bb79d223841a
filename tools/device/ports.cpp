#include "ports.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace device {

namespace {
const std::string ONLY = "; only a link to a pty that has gone is replaced";
std::string linkTarget(const std::string &link) {
  std::error_code error;
  return std::filesystem::read_symlink(link, error);
}

std::string cannotMake(const std::string &link, int error) {
  if (error != ENOENT && error != ENOTDIR)
    return link + ": cannot make a link there: " + std::strerror(error);
  std::string folder = std::filesystem::path(link).parent_path();
  return link + ": the folder " + (folder.empty() ? "." : folder) + " does not exist";
}

// The tool often runs as root (serial ports need it), so it is careful with
// the path: it makes the link where nothing is, replaces only a link to a
// pty that has gone (a pty's node goes with its master), and refuses
// anything else, a live tap's link included.
bool pointLink(const std::string &link, const std::string &target, std::string *why) {
  struct stat st;
  bool there = lstat(link.c_str(), &st) == 0;
  if (!there && errno != ENOENT && errno != ENOTDIR)
    return *why = link + ": " + std::strerror(errno), false;
  std::string old = linkTarget(link);
  if (there && !S_ISLNK(st.st_mode))
    *why = link +
           (S_ISDIR(st.st_mode)   ? " is a folder"
            : S_ISREG(st.st_mode) ? " is a file"
                                  : " is not a link") +
           ONLY;
  else if (there && old.compare(0, 9, "/dev/pts/") != 0)
    *why = link + " is a link to " + old + ", not to a pty" + ONLY;
  else if (there && stat(link.c_str(), &st) == 0)
    *why = link + " is a link to " + old + ", a pty in use (another run's?)" + ONLY;
  if (!why->empty()) return false;
  // A link to a pty that has gone opens no better than no link: it is
  // removed, and symlink() refuses to replace what may appear meanwhile.
  if (there && unlink(link.c_str()) != 0)
    return *why = link + ": cannot replace the link: " + std::strerror(errno), false;
  return symlink(target.c_str(), link.c_str()) == 0 || (*why = cannotMake(link, errno), false);
}
}  // namespace

ProgramPort::~ProgramPort() {
  if (!link.empty() && linkTarget(link) == slave) unlink(link.c_str());
  if (keeper >= 0) close(keeper);
  if (master >= 0) close(master);
}

bool ProgramPort::make(const std::string &path, bool raw, std::string *why) {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio;
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || tcgetattr(master, &tio) != 0)
    return *why = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno), false;
  slave = ptsname(master);
  if (raw) {
    // A serial port passes every byte as it comes, set up or not.
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  } else {
    // A serial line neither echoes nor gathers lines, and has no signal
    // characters (one would flush what waits for the program); the rest
    // (XON/XOFF among them) stays as a fresh pty has it: passing every byte
    // is the program's job, and a program that forgets to is caught.
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG);
  }
  tcsetattr(master, TCSANOW, &tio);
  // Run with sudo, the pty belongs to the user who ran it, whose own Wine can then open it.
  const char *uid = getenv("SUDO_UID"), *gid = getenv("SUDO_GID");
  bool forUser = geteuid() == 0 && uid && gid;
  if (forUser) (void)!chown(slave.c_str(), (uid_t)atol(uid), (gid_t)atol(gid));
  keeper = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // The tap's, once opened and closed, has the master report a hang-up for
  // as long as nobody holds it: that is how the tap sees the program.
  if (raw) close(keeper), keeper = -1;
  why->clear();
  if (!pointLink(path, slave, why)) return *why = "--link " + *why, false;
  link = path;
  if (forUser) (void)!lchown(link.c_str(), (uid_t)atol(uid), (gid_t)atol(gid));
  return true;
}

bool ProgramPort::inUse() const {
  pollfd p = {master, 0, 0};
  poll(&p, 1, 0);
  return !(p.revents & POLLHUP);
}

int ProgramPort::written() const {
  int n = 0;
  return ioctl(master, FIONREAD, &n) == 0 ? n : 0;
}

int ProgramPort::unread() const {
  int fd = keeper >= 0 ? keeper : ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), n = 0;
  if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0) n = 0;
  if (fd >= 0 && fd != keeper) close(fd);
  return n;
}

Bytes ProgramPort::takeUnread() {
  Bytes bytes;
  int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  pollfd p = {fd, POLLIN, 0};
  do {  // bytes still on their way inside the pty follow within moments
    uint8_t buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
      bytes.insert(bytes.end(), buffer, buffer + n);
  } while (fd >= 0 && poll(&p, 1, SETTLE_US / 1000) > 0 && (p.revents & POLLIN));
  if (fd >= 0) tcflush(fd, TCIFLUSH), close(fd);
  return bytes;
}

SerialPort::Opened SerialPort::open(std::string *why) {
  close();
  // Non-blocking, so that neither opening nor reading waits on a modem line.
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int error = errno;
  *why = path + ": " + std::strerror(error);
  // Neither of these is ever a serial port, though opening them fails as
  // an adapter that is not there yet does.
  struct stat st;
  bool there = fd < 0 && stat(path.c_str(), &st) == 0;
  if (there && S_ISSOCK(st.st_mode))
    return *why = path + " is a socket, not a serial port", REFUSED;
  if (there && S_ISCHR(st.st_mode) && st.st_rdev == makedev(5, 0))
    return *why = path + ": the controlling terminal, and this run has none", REFUSED;
  // An adapter's node appears when it is plugged in; another program may have it for now.
  if (fd < 0)
    return error == ENOENT || error == ENODEV || error == ENXIO || error == EBUSY || error == EIO
               ? ABSENT
               : REFUSED;
  termios tio;
  if (tcgetattr(fd, &tio) != 0)
    return *why = path + " is not a serial port: " + std::strerror(errno), close(), REFUSED;
  cfmakeraw(&tio);  // 8 bits, no echo, no line editing, no stripping, no XON/XOFF
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | IGNBRK | BRKINT | ISTRIP);
  tio.c_iflag |= INPCK | PARMRK;               // line errors come marked
  tio.c_cflag &= ~(CSTOPB | CRTSCTS | HUPCL);  // 1 stop bit; no hang-up on close
  tio.c_cflag |= CLOCAL | CREAD | PARENB | PARODD;
  tio.c_cc[VMIN] = tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  // A pseudo-terminal drops the parity setting and then refuses the whole
  // call when nothing else changed; what took is read back.
  bool set = tcsetattr(fd, TCSANOW, &tio) == 0;
  if (!set) tio.c_cflag &= ~(PARENB | PARODD), set = tcsetattr(fd, TCSANOW, &tio) == 0;
  if (!set)
    return *why = path + ": cannot set 9600 8O1 raw: " + std::strerror(errno), close(), REFUSED;
  note = tcgetattr(fd, &tio) != 0 || !(tio.c_cflag & PARENB)
             ? "the port took no parity setting (a pseudo-terminal has none)"
             : "";
  marked = 0;
  return OPEN;
}

void SerialPort::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SerialPort::unmark(uint8_t byte, Bytes *data, Bytes *bad) {
  if (marked == 0 && byte == 0xFF) return (void)(marked = 1);
  if (marked == 0) return data->push_back(byte);
  if (marked == 2) return marked = 0, data->push_back(byte), bad->push_back(byte);
  if (byte == 0x00) return (void)(marked = 2);
  // FF FF is one data byte FF. Anything else after FF is no mark the driver
  // makes: FF was a plain byte, and this one starts afresh.
  marked = 0;
  data->push_back(0xFF);
  if (byte != 0xFF) unmark(byte, data, bad);
}

}  // namespace device
