// Runs the real talliver-device from another process, for the tests and the
// benchmarks: the tool as a child process, its standard output in a file, a
// pipe the caller reads (or leaves unread) or nowhere, and pty pairs standing
// in for the device's serial port and the program's COM port. Every wait is
// bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tool {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The talliver-device that Tool runs: the build's for the tests, the one on
// its command line for a benchmark.
#ifdef TALLIVER_DEVICE
inline std::string executable = TALLIVER_DEVICE;
#else
inline std::string executable;
#endif

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

// A fresh folder for one run's links and files, removed afterwards.
struct Folder {
  std::string path;
  Folder() {
    char dir[] = "/tmp/talliver-device-run-XXXXXX";
    if (!mkdtemp(dir)) std::perror("mkdtemp"), std::exit(2);
    path = dir;
  }
  ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// A raw pty pair: the caller plays one end on the master, the tool opens the slave.
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
  // FILE: in the folder; PIPE: the caller reads it with output(), or leaves
  // it; BOTH: standard error too; NOWHERE: to /dev/null (standard error
  // still in the folder).
  enum Output { FILE, PIPE, BOTH, NOWHERE };
  Tool(const Folder &folder, std::vector<std::string> args, Output output = FILE)
      : out_(folder / "stdout"), err_(folder / "stderr") {
    int outPipe[2] = {-1, -1};
    bool piped = output == PIPE || output == BOTH;
    if (piped && pipe(outPipe) != 0) return;
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      setsid();  // no controlling terminal: the tool's run as a service's
      // Out of the caller's session, the tool would outlive a caller that
      // crashed or exited early; it goes with it instead.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      if (output == NOWHERE) out_ = "/dev/null";
      int outFd = piped ? outPipe[1] : open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(outFd, 1);
      dup2(output == BOTH ? outFd : open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (piped) close(outPipe[0]);
      std::vector<char *> argv = {const_cast<char *>(executable.c_str())};
      for (std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(executable.c_str(), argv.data());
      _exit(127);
    }
    if (piped) close(outPipe[1]), fcntl(stdout_ = outPipe[0], F_SETFL, O_NONBLOCK);
  }
  ~Tool() {
    if (code_ == RUNNING && pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    if (stdout_ >= 0) close(stdout_);
  }
  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  pid_t pid() const { return pid_; }
  // The exit code once the tool has ended within `ms` (128 + a signal that
  // ended it); RUNNING if not yet.
  int waitExit(int ms) {
    within(ms, [&] {
      int status;
      if (code_ == RUNNING && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
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

  static constexpr int RUNNING = -1;

 private:
  std::string out_, err_, piped_;
  int stdout_ = -1;
  pid_t pid_ = -1;
  int code_ = RUNNING;
};

}  // namespace tool
