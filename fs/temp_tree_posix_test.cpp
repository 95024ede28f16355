#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fs/temp_tree_test.h"

namespace fs::testing {

std::string AsUnprivilegedUser(const std::function<std::string()>& work) {
  if (geteuid() != 0) return work();
  constexpr uid_t kNobody = 65534;
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string out = "could not drop privileges";
    if (setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
        setresuid(kNobody, kNobody, kNobody) == 0) {
      out = work();
    }
    const ssize_t written = write(fds[1], out.data(), out.size());
    _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return out;
}

}  // namespace fs::testing
