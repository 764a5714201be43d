#pragma once
// Ways of keeping a web file from the intake in tests: a writer in another process that
// holds it open, and a file that cannot be deleted.

#include <fcntl.h>
#include <signal.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace dexweb::test {

// A child process that holds path open for writing until release() or the end of the object.
class WriterHold {
 public:
  explicit WriterHold(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0 || ::pipe(done_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test process that dies must not leave the holder waiting for ever.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
      char c;
      (void)!::write(ready[1], "r", 1);
      (void)!::read(done_[0], &c, 1);
      ::close(fd);
      ::_exit(0);
    }
    char c;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~WriterHold() { release(); }
  WriterHold(const WriterHold&) = delete;
  WriterHold& operator=(const WriterHold&) = delete;

  void release() {
    if (pid_ <= 0) return;
    (void)!::write(done_[1], "d", 1);
    ::waitpid(pid_, nullptr, 0);
    ::close(done_[0]);
    ::close(done_[1]);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int done_[2] = {-1, -1};
};

// Makes a file undeletable: a folder without write permission for an ordinary user, the
// immutable flag for root (where the file system has it). ok() is false when neither works.
class Undeletable {
 public:
  Undeletable(const std::string& folder, const std::string& file) : folder_(folder), file_(file) {
    if (::geteuid() != 0) {
      ok_ = ::chmod(folder_.c_str(), 0555) == 0;
      return;
    }
    ok_ = set_immutable(true);
  }
  ~Undeletable() { release(); }
  Undeletable(const Undeletable&) = delete;
  Undeletable& operator=(const Undeletable&) = delete;

  bool ok() const { return ok_; }
  void release() {
    if (!ok_) return;
    if (::geteuid() != 0) ::chmod(folder_.c_str(), 0755);
    else set_immutable(false);
    ok_ = false;
  }

 private:
  bool set_immutable(bool on) {
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  }

  std::string folder_, file_;
  bool ok_ = false;
};

}  // namespace dexweb::test
