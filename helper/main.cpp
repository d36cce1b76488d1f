// diskvigil-drive-helper: carries the catalogue's drive commands for a program that runs without
// privilege. It holds CAP_SYS_RAWIO (a file capability) and nothing else: it runs as the calling
// user, so the disk group still decides which drives it can open; it reads no environment and
// takes no arguments, closes every inherited descriptor but its standard ones, and before reading
// its first request forbids itself new privileges and every system call the exchange does not need.
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "core/platform/LinuxDriveSystem.h"
#include "helper/DriveHelperServer.h"

namespace {

constexpr int kExitSetupFailed = 2;

struct FilterDeleter {
  void operator()(scmp_filter_ctx filter) const { seccomp_release(filter); }
};

bool Allow(scmp_filter_ctx filter, int call) {
  return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
}

// The requests travel on descriptor 0 and 1; drives are opened read-only and take SG_IO or the
// NVMe admin command; memory comes from brk and mmap, never executable.
bool InstallFilter() {
  const std::unique_ptr<void, FilterDeleter> owner(seccomp_init(SCMP_ACT_KILL_PROCESS));
  scmp_filter_ctx filter = owner.get();
  if (filter == nullptr) return false;
  constexpr scmp_datum_t kOpenModeMask = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND;
  constexpr scmp_datum_t kProtExec = PROT_EXEC;
  const bool added = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(read), 1,
                                      SCMP_A0(SCMP_CMP_EQ, STDIN_FILENO)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(write), 1,
                                      SCMP_A0(SCMP_CMP_EQ, STDOUT_FILENO)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(write), 1,
                                      SCMP_A0(SCMP_CMP_EQ, STDERR_FILENO)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1,
                                      SCMP_A2(SCMP_CMP_MASKED_EQ, kOpenModeMask, O_RDONLY)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1,
                                      SCMP_A1(SCMP_CMP_EQ, SG_IO)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1,
                                      SCMP_A1(SCMP_CMP_EQ, NVME_IOCTL_ADMIN_CMD)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 1,
                                      SCMP_A2(SCMP_CMP_MASKED_EQ, kProtExec, 0)) == 0 &&
                     seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1,
                                      SCMP_A2(SCMP_CMP_MASKED_EQ, kProtExec, 0)) == 0 &&
                     Allow(filter, SCMP_SYS(close)) && Allow(filter, SCMP_SYS(brk)) &&
                     Allow(filter, SCMP_SYS(munmap)) && Allow(filter, SCMP_SYS(mremap)) &&
                     Allow(filter, SCMP_SYS(madvise)) && Allow(filter, SCMP_SYS(exit_group)) &&
                     Allow(filter, SCMP_SYS(exit)) && Allow(filter, SCMP_SYS(rt_sigreturn));
  return added && seccomp_load(filter) == 0;
}

}  // namespace

int main() {
  // Descriptors the caller forgot to mark close-on-exec are not ours to keep.
  close_range(STDERR_FILENO + 1, ~0U, 0);
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !InstallFilter()) {
    std::fputs("diskvigil-drive-helper: the system call filter cannot be installed\n", stderr);
    return kExitSetupFailed;
  }
  const std::unique_ptr<dv::DriveSystem> drives = dv::CreateLinuxDriveSystem();
  return dv::ServeDriveHelper(*drives, STDIN_FILENO, STDOUT_FILENO);
}
