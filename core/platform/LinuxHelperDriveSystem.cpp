#include "core/platform/LinuxHelperDriveSystem.h"

#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "core/FileTrust.h"
#include "core/HelperProtocol.h"
#include "core/RunningProgram.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/LinuxDriveSystem.h"

namespace dv {

namespace fs = std::filesystem;

std::vector<fs::path> DriveHelperCandidates(const fs::path& program) {
  std::vector<fs::path> candidates;
  if (!program.empty()) {
    const fs::path folder = program.parent_path();
    candidates.push_back(
        (folder / DISKVIGIL_HELPER_RELATIVE_DIR / kDriveHelperFile).lexically_normal());
    candidates.push_back(folder / kDriveHelperFile);
  }
  candidates.push_back(fs::path(DISKVIGIL_HELPER_INSTALLED_DIR) / kDriveHelperFile);
  candidates.push_back(fs::path(DISKVIGIL_HELPER_BUILD_DIR) / kDriveHelperFile);
  return candidates;
}

std::optional<fs::path> FindDriveHelper(const std::vector<fs::path>& candidates,
                                        std::string& reason) {
  reason = std::string("the drive helper ") + kDriveHelperFile + " was not found";
  for (const fs::path& candidate : candidates) {
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) continue;
    if (const std::string why = UntrustedFileReason(candidate); !why.empty()) {
      reason = "the drive helper is not used: " + why;
      continue;
    }
    return candidate;
  }
  return std::nullopt;
}

bool HelperRestartRule::MayStart(std::chrono::steady_clock::time_point now) {
  if (lastStart_ && now - *lastStart_ < spacing_) return false;
  lastStart_ = now;
  return true;
}

bool CanPassThroughDirectly() {
  if (geteuid() == 0) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (syscall(SYS_capget, &header, data.data()) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

namespace {

bool SendAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    // MSG_NOSIGNAL: a helper that died makes this fail instead of killing the caller.
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, std::span<uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = recv(fd, bytes.data() + done, bytes.size() - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One running helper and the socket to it. Every exchange holds the lock, so threads sharing the
// drive system take turns. A helper that fails an exchange is stopped; `generation` tells handles
// opened in an earlier helper that theirs is gone.
class HelperChannel {
 public:
  HelperChannel(DriveHelperCommand command, std::string unavailableReason,
                std::chrono::steady_clock::duration restartSpacing)
      : command_(std::move(command)),
        problem_(std::move(unavailableReason)),
        restartRule_(restartSpacing) {}
  ~HelperChannel() { Stop(false); }
  HelperChannel(const HelperChannel&) = delete;
  HelperChannel& operator=(const HelperChannel&) = delete;

  // Starts the helper when none runs and the restart rule allows it; the generation it runs as.
  std::optional<uint64_t> Running() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() && !command_.program.empty() &&
        restartRule_.MayStart(std::chrono::steady_clock::now())) {
      Start();
    }
    if (!fd_.Valid()) return std::nullopt;
    return generation_;
  }

  // One request and its reply, in the helper of `generation`; nullopt when that helper is gone.
  std::optional<HelperReply> Exchange(uint64_t generation, const HelperRequest& request) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() || generation != generation_) return std::nullopt;
    if (SendAll(fd_.Get(), EncodeHelperRequest(request))) {
      // The replies to closes sent before come first.
      for (; unread_ > 0; --unread_) {
        if (!ReceiveReply()) break;
      }
      if (unread_ == 0) {
        if (auto reply = ReceiveReply()) return reply;
      }
    }
    Fail();
    return std::nullopt;
  }

  // Sends a request whose reply nobody waits for (a close): it is read before the next reply, so a
  // close costs no round trip of its own.
  void Post(uint64_t generation, const HelperRequest& request) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() || generation != generation_) return;
    if (SendAll(fd_.Get(), EncodeHelperRequest(request))) {
      ++unread_;
    } else {
      Fail();
    }
  }

  void NoteOpenRefused() {
    const std::lock_guard<std::mutex> hold(lock_);
    openRefused_ = true;
  }
  void NoteCommandRefused() {
    const std::lock_guard<std::mutex> hold(lock_);
    commandRefused_ = true;
  }

  std::string Problem() const {
    const std::lock_guard<std::mutex> hold(lock_);
    if (commandRefused_) {
      return "The disks refused access: the drive helper " + command_.program.string() +
             " needs CAP_SYS_RAWIO (setcap cap_sys_rawio+ep on the helper).";
    }
    if (openRefused_) {
      return "The disks refused access: reading /dev/sd* needs the disk group (or root).";
    }
    if (!problem_.empty()) return "The disks cannot be reached: " + problem_ + ".";
    return {};
  }

 private:
  void Start() {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
      problem_ = std::string("the drive helper cannot be started: ") + std::strerror(errno);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDOUT_FILENO);
    std::vector<std::string> words{command_.program.string()};
    words.insert(words.end(), command_.arguments.begin(), command_.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    char* noEnvironment[] = {nullptr};
    const int error =
        posix_spawn(&pid_, command_.program.c_str(), &actions, nullptr, argv.data(), noEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    FileDescriptor ours(sockets[0]);
    FileDescriptor(sockets[1]).Close();  // the helper's end lives on in the helper alone
    if (error != 0) {
      pid_ = -1;
      problem_ = "the drive helper " + command_.program.string() +
                 " cannot be started: " + std::strerror(error);
      return;
    }
    fd_ = std::move(ours);
    ++generation_;
    problem_.clear();
  }

  std::optional<HelperReply> ReceiveReply() {
    std::array<uint8_t, kHelperFrameLengthSize> prefix;
    if (!ReceiveAll(fd_.Get(), prefix)) return std::nullopt;
    const auto length = HelperPayloadLength(prefix);
    if (!length) return std::nullopt;
    std::vector<uint8_t> payload(*length);
    if (!ReceiveAll(fd_.Get(), payload)) return std::nullopt;
    return DecodeHelperReply(payload);
  }

  void Fail() {
    problem_ = "the drive helper " + command_.program.string() + " ended unexpectedly";
    Stop(true);
  }

  // Closing the socket ends a healthy helper; one that broke the protocol is killed first.
  void Stop(bool kill) {
    if (!fd_.Valid()) return;
    fd_.Close();
    unread_ = 0;
    if (kill) ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  mutable std::mutex lock_;
  DriveHelperCommand command_;
  std::string problem_;
  HelperRestartRule restartRule_;
  FileDescriptor fd_;
  pid_t pid_ = -1;
  uint64_t generation_ = 0;
  int unread_ = 0;  // replies to posted requests not read yet
  bool openRefused_ = false;
  bool commandRefused_ = false;
};

// Sends the helper its Close when the caller lets go of the handle.
class ForwardedHandle {
 public:
  ForwardedHandle(std::shared_ptr<HelperChannel> channel, uint64_t generation, uint32_t id)
      : channel_(std::move(channel)), generation_(generation), id_(id) {}
  ~ForwardedHandle() {
    HelperRequest close;
    close.type = HelperRequestType::Close;
    close.handle = id_;
    channel_->Post(generation_, close);
  }
  ForwardedHandle(const ForwardedHandle&) = delete;
  ForwardedHandle& operator=(const ForwardedHandle&) = delete;

  std::optional<HelperReply> Exchange(HelperRequest request) {
    request.handle = id_;
    return channel_->Exchange(generation_, request);
  }
  HelperChannel& Channel() { return *channel_; }

 private:
  std::shared_ptr<HelperChannel> channel_;
  uint64_t generation_;
  uint32_t id_;
};

class HelperDriveHandle : public DriveHandle {
 public:
  HelperDriveHandle(std::shared_ptr<HelperChannel> channel, uint64_t generation, uint32_t id)
      : handle_(std::move(channel), generation, id) {}

  bool PassThrough(std::span<uint8_t> request) override {
    HelperRequest forwarded;
    forwarded.type = HelperRequestType::AtaCommand;
    forwarded.ata.assign(request.begin(), request.end());
    const auto reply = handle_.Exchange(std::move(forwarded));
    if (!reply || reply->type != HelperReplyType::AtaResult ||
        reply->data.size() != request.size()) {
      return false;
    }
    if ((reply->flags & kHelperPrivilegeFailure) != 0) handle_.Channel().NoteCommandRefused();
    // The helper sends back the request as its drive returned it: registers and data.
    std::copy(reply->data.begin(), reply->data.end(), request.begin());
    return (reply->flags & kHelperCallSucceeded) != 0;
  }

 private:
  ForwardedHandle handle_;
};

class HelperNvmeHandle : public NvmeHandle {
 public:
  HelperNvmeHandle(std::shared_ptr<HelperChannel> channel, uint64_t generation, uint32_t id)
      : handle_(std::move(channel), generation, id) {}

  bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
    lastPrivilegeFailure_ = false;
    HelperRequest forwarded;
    forwarded.type = HelperRequestType::NvmeCommand;
    forwarded.nvme = request;
    const auto reply = handle_.Exchange(std::move(forwarded));
    if (!reply || reply->type != HelperReplyType::NvmeResult || reply->data.size() != data.size()) {
      return false;
    }
    lastPrivilegeFailure_ = (reply->flags & kHelperPrivilegeFailure) != 0;
    std::copy(reply->data.begin(), reply->data.end(), data.begin());
    return (reply->flags & kHelperCallSucceeded) != 0;
  }
  bool LastFailureWasPrivilege() const override { return lastPrivilegeFailure_; }

 private:
  ForwardedHandle handle_;
  bool lastPrivilegeFailure_ = false;
};

class HelperDriveSystem : public DriveSystem {
 public:
  HelperDriveSystem(DriveHelperCommand command, std::unique_ptr<DriveSystem> local,
                    std::string unavailableReason, std::chrono::steady_clock::duration spacing)
      : channel_(std::make_shared<HelperChannel>(std::move(command), std::move(unavailableReason),
                                                 spacing)),
        local_(std::move(local)) {}

  DriveHandlePtr Open(int driveNumber) override {
    if (driveNumber < 0 || driveNumber > 255) return nullptr;
    const auto opened = OpenInHelper(HelperRequestType::OpenAta, driveNumber);
    if (!opened) return nullptr;
    return std::make_unique<HelperDriveHandle>(channel_, opened->first, opened->second);
  }

  NvmeHandlePtr OpenNvme(int controller) override {
    if (controller < 0 || controller > 255) return nullptr;
    const auto opened = OpenInHelper(HelperRequestType::OpenNvme, controller);
    if (!opened) return nullptr;
    return std::make_unique<HelperNvmeHandle>(channel_, opened->first, opened->second);
  }

  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return local_->VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return local_->DescribeDrive(driveNumber);
  }
  std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int controller) override {
    return local_->ReadNvmeUnprivileged(controller);
  }
  std::string NvmeDevicePath(int controller) const override {
    return local_->NvmeDevicePath(controller);
  }
  std::string PrivilegeProblem() const override { return channel_->Problem(); }

 private:
  // The helper's generation and the handle's id, or nullopt.
  std::optional<std::pair<uint64_t, uint32_t>> OpenInHelper(HelperRequestType type, int number) {
    const auto generation = channel_->Running();
    if (!generation) return std::nullopt;
    HelperRequest open;
    open.type = type;
    open.number = static_cast<uint8_t>(number);
    const auto reply = channel_->Exchange(*generation, open);
    if (!reply) return std::nullopt;
    if (reply->type == HelperReplyType::Refused &&
        reply->refusal == HelperRefusal::OpenNotAllowed && type == HelperRequestType::OpenAta) {
      channel_->NoteOpenRefused();
    }
    if (reply->type != HelperReplyType::Opened) return std::nullopt;
    return std::make_pair(*generation, reply->handle);
  }

  std::shared_ptr<HelperChannel> channel_;
  std::unique_ptr<DriveSystem> local_;
};

}  // namespace

std::unique_ptr<DriveSystem> CreateHelperDriveSystem(DriveHelperCommand command,
                                                     std::unique_ptr<DriveSystem> local,
                                                     std::string unavailableReason,
                                                     std::chrono::steady_clock::duration spacing) {
  return std::make_unique<HelperDriveSystem>(std::move(command), std::move(local),
                                             std::move(unavailableReason), spacing);
}

// Run as root or with the capability, the program talks to the drives itself; otherwise through
// the helper, so that no privilege lives in a program that loads plug-ins or TLS modules.
std::unique_ptr<DriveSystem> CreatePlatformDriveSystem() {
  if (CanPassThroughDirectly()) return CreateLinuxDriveSystem();
  std::string reason;
  const auto helper = FindDriveHelper(DriveHelperCandidates(RunningProgramFile()), reason);
  DriveHelperCommand command;
  if (helper) command.program = *helper;
  return CreateHelperDriveSystem(std::move(command), CreateLinuxDriveSystem(),
                                 helper ? std::string() : reason);
}

}  // namespace dv
