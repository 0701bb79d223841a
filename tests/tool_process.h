// For tests that run the real talliver-device: the tool as a child process
// with its output in files (or its standard output a pipe nobody reads), and
// a pty pair standing in for a device's serial port. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
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

// A pty pair: the test plays the device on the master; the tool opens the
// slave as the device's serial port.
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

// Opens a path as a program opens its COM port: without touching its settings.
inline int openAsProgram(const std::string &path) {
  return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

// Writes for up to `ms` (0: once), as the reader takes them; returns how many bytes.
inline size_t write(int fd, const Bytes &bytes, int ms = 0) {
  size_t sent = 0;
  within(ms, [&] {
    ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    sent += n > 0 ? (size_t)n : 0;
    return sent == bytes.size();
  });
  return sent;
}

// Reads for up to `ms`, until `want` bytes have come.
inline Bytes read(int fd, int ms, size_t want) {
  Bytes got;
  within(ms, [&] {
    uint8_t buffer[4096];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
    return got.size() >= want;
  });
  return got;
}

class Tool {
 public:
  enum Output { FILES, UNREAD_PIPE };
  Tool(const Folder &folder, std::vector<std::string> args, Output output = FILES)
      : out_(folder / "stdout"), err_(folder / "stderr") {
    if (output == UNREAD_PIPE && pipe(pipe_) != 0) return;
    pid_ = fork();
    if (pid_ != 0) return;
    int outFd = output == FILES ? open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : pipe_[1];
    dup2(outFd, 1);
    dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char *> argv = {const_cast<char *>(TALLIVER_DEVICE)};
    for (std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(TALLIVER_DEVICE, argv.data());
    _exit(127);
  }
  ~Tool() {
    if (code_ == RUNNING && pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    if (pipe_[0] >= 0) close(pipe_[0]), close(pipe_[1]);
  }
  void signal(int sig) { kill(pid_, sig); }
  // The exit code once the tool has ended within `ms`; RUNNING if not yet.
  int waitExit(int ms) {
    within(ms, [&] {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return code_ != RUNNING;
    });
    return code_;
  }
  // Waits up to `ms` for the text to appear in the tool's standard output.
  bool awaitOutput(const std::string &text, int ms) {
    return within(ms, [&] { return output().find(text) != std::string::npos; });
  }
  std::string output() const { return readFile(out_); }
  std::string errors() const { return readFile(err_); }

  static constexpr int RUNNING = -1;

 private:
  std::string out_, err_;
  int pipe_[2] = {-1, -1};
  pid_t pid_ = -1;
  int code_ = RUNNING;
};

}  // namespace tool
