// For tests that run the real talliver-device: the tool as a child process,
// its standard output in a file or a pipe the test reads (or leaves unread),
// and pty pairs standing in for the device's serial port. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tool {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Tries `done` until it holds or `ms` have passed; whether it held.
template <typename F>
bool within(int ms, F done) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() >= end) return false;
    pause(5);
  }
  return true;
}

inline std::string readFile(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

inline bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A process that runs: there, and not a zombie.
inline bool alive(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t state = stat.rfind(") ");
  return state != std::string::npos && stat[state + 2] != 'Z';
}

inline bool has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// A fresh folder for one test's links and files, removed afterwards.
struct Folder {
  std::string path;
  Folder() {
    char dir[] = "/tmp/device-tool-test-XXXXXX";
    path = mkdtemp(dir);
  }
  ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// A raw pty pair: the test plays one end on the master, the tool opens the slave.
struct DevicePort {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::string slave;
  DevicePort() {
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
    termios tio;
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
  }
  ~DevicePort() { close(master); }
};

// Opens a path as a program opens its COM port, and sets it up, as the
// program does, to pass every byte unchanged.
inline int openAsProgram(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio;
  if (fd >= 0 && tcgetattr(fd, &tio) == 0) cfmakeraw(&tio), tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Writes what the reader takes now, or for up to `ms`; returns how many bytes.
inline size_t write(int fd, const Bytes &bytes, int ms = 0) {
  size_t sent = 0;
  within(ms, [&] {
    ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    sent += n > 0 ? (size_t)n : 0;
    return sent == bytes.size();
  });
  return sent;
}

// Appends what can be read now; false once the other end has gone.
inline bool drain(int fd, Bytes *into) {
  uint8_t buffer[4096];
  for (ssize_t n; fd >= 0;) {
    if ((n = ::read(fd, buffer, sizeof buffer)) > 0) into->insert(into->end(), buffer, buffer + n);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n < 0) return true;
  }
  return false;
}

class Tool {
 public:
  // PIPE: the test reads it with output(), or leaves it; BOTH: standard error too.
  enum Output { FILE, PIPE, BOTH };
  Tool(const Folder &folder, std::vector<std::string> args, Output output = FILE,
       bool stdinPipe = false)
      : out_(folder / "stdout"), err_(folder / "stderr") {
    int outPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    if ((output != FILE && pipe(outPipe) != 0) || (stdinPipe && pipe(inPipe) != 0)) return;
    pid_ = fork();
    if (pid_ == 0) {
      setsid();  // no controlling terminal: the tool's run as a service's
      int outFd =
          output == FILE ? open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : outPipe[1];
      dup2(outFd, 1);
      dup2(output == BOTH ? outFd : open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (stdinPipe) dup2(inPipe[0], 0), close(inPipe[1]);
      if (output != FILE) close(outPipe[0]);
      std::vector<char *> argv = {const_cast<char *>(TALLIVER_DEVICE)};
      for (std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(TALLIVER_DEVICE, argv.data());
      _exit(127);
    }
    if (output != FILE) close(outPipe[1]), fcntl(stdout_ = outPipe[0], F_SETFL, O_NONBLOCK);
    if (stdinPipe) close(inPipe[0]), stdin_ = inPipe[1];
  }
  ~Tool() {
    if (code_ == RUNNING && pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    for (int fd : {stdout_, stdin_})
      if (fd >= 0) close(fd);
  }
  void signal(int sig) { kill(pid_, sig); }
  // The exit code once the tool has ended within `ms` (128 + a signal that
  // ended it); RUNNING if not yet.
  int waitExit(int ms) {
    within(ms, [&] {
      int status;
      if (code_ == RUNNING && waitpid(pid_, &status, WNOHANG) == pid_)
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return code_ != RUNNING;
    });
    return code_;
  }
  // Standard output so far (read from the pipe, for PIPE).
  std::string output() {
    if (stdout_ < 0) return readFile(out_);
    Bytes more;
    drain(stdout_, &more);
    piped_.append(more.begin(), more.end());
    return piped_;
  }
  std::string errors() const { return readFile(err_); }
  void input(const std::string &text) { (void)!::write(stdin_, text.data(), text.size()); }

  static constexpr int RUNNING = -1;

 private:
  std::string out_, err_, piped_;
  int stdout_ = -1, stdin_ = -1;
  pid_t pid_ = -1;
  int code_ = RUNNING;
};

}  // namespace tool
