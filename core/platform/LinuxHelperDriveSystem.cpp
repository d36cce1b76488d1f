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
#include <bitset>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>

#include "core/FileTrust.h"
#include "core/HelperProtocol.h"
#include "core/Ioctl.h"
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

// What became of an open sent ahead of the handle's first command.
struct PostedOpen {
  uint32_t id = 0;
  bool answered = false;
  bool opened = false;
};

// One running helper and the socket to it. Every exchange holds the lock, so threads sharing the
// drive system take turns. A helper that fails an exchange is stopped; `generation` tells handles
// opened in an earlier helper that theirs is gone.
//
// Requests whose replies nobody waits for (closes, and opens of drives that opened before) are
// kept and leave in the same write as the next request that is waited for; their replies are read
// first, in order. So a monitoring command costs one exchange: its close, its open and itself.
class HelperChannel {
 public:
  HelperChannel(DriveHelperCommand command, std::string unavailableReason,
                std::chrono::steady_clock::duration restartSpacing)
      : command_(std::move(command)),
        problem_(std::move(unavailableReason)),
        restartRule_(restartSpacing),
        input_(kHelperInputBuffer) {}
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
    Enqueue(request);
    if (Flush()) {
      if (auto reply = ReceiveReply()) return reply;
    }
    Fail();
    return std::nullopt;
  }

  // Keeps a close for the next exchange.
  void PostClose(uint64_t generation, uint32_t id) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() || generation != generation_) return;
    HelperRequest close;
    close.type = HelperRequestType::Close;
    close.handle = id;
    Enqueue(close);
    awaited_.push_back(nullptr);
    if (awaited_.size() >= kMostPosted && !Flush()) Fail();
  }

  // Opens ATA drive `number`: sent ahead of the first command when the drive opened before in this
  // process, otherwise waited for (so that a drive that is not there gives no handle). The handle's
  // id, with what became of a posted open; nullopt when the drive did not open.
  std::optional<std::pair<uint32_t, std::shared_ptr<PostedOpen>>> OpenAta(uint64_t generation,
                                                                          uint8_t number) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() || generation != generation_) return std::nullopt;
    HelperRequest open;
    open.type = HelperRequestType::OpenAta;
    open.number = number;
    const uint32_t id = Enqueue(open);
    if (openedBefore_.test(number)) {
      auto posted = std::make_shared<PostedOpen>();
      posted->id = id;
      awaited_.push_back(posted);
      postedNumbers_.push_back(number);
      return std::make_pair(id, posted);
    }
    const auto reply = Flush() ? ReceiveReply() : std::nullopt;
    if (!reply) {
      Fail();
      return std::nullopt;
    }
    NoteOpenReply(number, *reply);
    if (reply->type != HelperReplyType::Opened) return std::nullopt;
    return std::make_pair(reply->handle, nullptr);
  }

  // Opens NVMe controller `number`, waiting for the reply; its handle's id or nullopt.
  std::optional<uint32_t> OpenNvme(uint64_t generation, uint8_t number) {
    HelperRequest open;
    open.type = HelperRequestType::OpenNvme;
    open.number = number;
    const auto reply = Exchange(generation, open);
    if (!reply || reply->type != HelperReplyType::Opened) return std::nullopt;
    return reply->handle;
  }

  // Carries every request on its own open, closed after it, in one write, and takes all the
  // replies from one read: a whole batch is one round trip. Sends nothing and says false when a
  // drive has not opened in this process before, since such an open is waited for.
  bool PassThroughEach(uint64_t generation, std::span<FreshOpenRequest> requests) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!fd_.Valid() || generation != generation_) return true;
    for (const FreshOpenRequest& each : requests) {
      const bool known = IsDriveNumber(each.driveNumber) &&
                         openedBefore_.test(static_cast<size_t>(each.driveNumber));
      if (!known) return false;
    }
    for (const FreshOpenRequest& each : requests) {
      EnqueueOnFreshOpen(static_cast<uint8_t>(each.driveNumber), each.request);
    }
    if (!Flush()) {
      Fail();
      return true;
    }
    for (FreshOpenRequest& each : requests) {
      if (!TakeFreshOpenReply(each)) {
        Fail();
        return true;
      }
    }
    return true;
  }
  bool OpenFailed(const PostedOpen& posted) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return posted.answered && !posted.opened;
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
  // Posted requests kept at most before they are sent on their own.
  static constexpr size_t kMostPosted = 16;

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
    opensSent_ = 0;
    problem_.clear();
  }

  // Adds the request to the frames not sent yet; for an open, the id the helper gives it.
  uint32_t Enqueue(const HelperRequest& request) {
    const auto frame = EncodeHelperRequest(request);
    output_.insert(output_.end(), frame.begin(), frame.end());
    const bool open =
        request.type == HelperRequestType::OpenAta || request.type == HelperRequestType::OpenNvme;
    return open ? ++opensSent_ : 0;
  }

  // Sends every kept frame in one write and reads the replies to the posted ones.
  bool Flush() {
    const bool sent = SendAll(fd_.Get(), output_);
    output_.clear();
    if (!sent) return false;
    for (; !awaited_.empty(); awaited_.pop_front()) {
      const auto reply = ReceiveReply();
      if (!reply) return false;
      if (const auto& posted = awaited_.front()) {
        posted->answered = true;
        posted->opened = reply->type == HelperReplyType::Opened && reply->handle == posted->id;
        NoteOpenReply(postedNumbers_.front(), *reply);
        postedNumbers_.pop_front();
        if (reply->type == HelperReplyType::Opened && !posted->opened) return false;
      }
    }
    return true;
  }

  // One request of a batch, which the helper sends on an open of its own and closes after.
  void EnqueueOnFreshOpen(uint8_t number, std::span<const uint8_t> ata) {
    HelperRequest request;
    request.type = HelperRequestType::AtaOnFreshOpen;
    request.number = number;
    request.ata.assign(ata.begin(), ata.end());
    Enqueue(request);
  }

  // The reply to EnqueueOnFreshOpen's request, into `request`; false when the helper broke the
  // protocol. A refused command counts as opened and not carried, as on a handle of its own.
  bool TakeFreshOpenReply(FreshOpenRequest& request) {
    const auto reply = ReceiveReply();
    if (!reply) return false;
    const bool refused = reply->type == HelperReplyType::Refused;
    if (!refused && reply->type != HelperReplyType::AtaResult) return false;
    const bool notOpened = refused && (reply->refusal == HelperRefusal::OpenFailed ||
                                       reply->refusal == HelperRefusal::OpenNotAllowed);
    NoteOpen(static_cast<uint8_t>(request.driveNumber), !notOpened,
             refused && reply->refusal == HelperRefusal::OpenNotAllowed);
    request.opened = !notOpened;
    if (refused || reply->data.size() != request.request.size()) return true;
    if ((reply->flags & kHelperPrivilegeFailure) != 0) commandRefused_ = true;
    std::copy(reply->data.begin(), reply->data.end(), request.request.begin());
    request.callSucceeded = (reply->flags & kHelperCallSucceeded) != 0;
    return true;
  }

  void NoteOpen(uint8_t number, bool opened, bool notAllowed) {
    openedBefore_.set(number, opened);
    if (notAllowed) openRefused_ = true;
  }

  void NoteOpenReply(uint8_t number, const HelperReply& reply) {
    NoteOpen(
        number, reply.type == HelperReplyType::Opened,
        reply.type == HelperReplyType::Refused && reply.refusal == HelperRefusal::OpenNotAllowed);
  }

  // The next reply, read in blocks: the replies to one write mostly come in one read.
  std::optional<HelperReply> ReceiveReply() {
    for (;;) {
      const std::span<const uint8_t> held(input_.data() + inputStart_, inputEnd_ - inputStart_);
      if (held.size() >= kHelperFrameLengthSize) {
        const auto length = HelperPayloadLength(held.first<kHelperFrameLengthSize>());
        if (!length) return std::nullopt;
        if (held.size() >= kHelperFrameLengthSize + *length) {
          inputStart_ += kHelperFrameLengthSize + *length;
          return DecodeHelperReply(held.subspan(kHelperFrameLengthSize, *length));
        }
      }
      std::copy(input_.begin() + static_cast<ptrdiff_t>(inputStart_),
                input_.begin() + static_cast<ptrdiff_t>(inputEnd_), input_.begin());
      inputEnd_ -= inputStart_;
      inputStart_ = 0;
      const ssize_t n = recv(fd_.Get(), input_.data() + inputEnd_, input_.size() - inputEnd_, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      inputEnd_ += static_cast<size_t>(n);
    }
  }

  void Fail() {
    problem_ = "the drive helper " + command_.program.string() + " ended unexpectedly";
    Stop(true);
  }

  // Closing the socket ends a healthy helper; one that broke the protocol is killed first. Opens
  // still unanswered count as refused.
  void Stop(bool kill) {
    for (const auto& posted : awaited_) {
      if (posted) posted->answered = true;
    }
    awaited_.clear();
    postedNumbers_.clear();
    output_.clear();
    inputStart_ = inputEnd_ = 0;
    if (!fd_.Valid()) return;
    fd_.Close();
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
  uint32_t opensSent_ = 0;
  std::vector<uint8_t> output_;                      // frames not sent yet
  std::deque<std::shared_ptr<PostedOpen>> awaited_;  // per posted frame; null for a close
  std::deque<uint8_t> postedNumbers_;                // the drive of each posted open
  std::vector<uint8_t> input_;                       // replies read but not taken yet
  size_t inputStart_ = 0;
  size_t inputEnd_ = 0;
  std::bitset<256> openedBefore_;  // ATA drives whose last open in this process succeeded
  bool openRefused_ = false;
  bool commandRefused_ = false;
};

// Sends the helper its Close when the caller lets go of the handle.
class ForwardedHandle {
 public:
  ForwardedHandle(std::shared_ptr<HelperChannel> channel, uint64_t generation, uint32_t id)
      : channel_(std::move(channel)), generation_(generation), id_(id) {}
  ~ForwardedHandle() { channel_->PostClose(generation_, id_); }
  ForwardedHandle(const ForwardedHandle&) = delete;
  ForwardedHandle& operator=(const ForwardedHandle&) = delete;

  std::optional<HelperReply> Exchange(HelperRequest request) {
    request.handle = id_;
    return channel_->Exchange(generation_, request);
  }
  HelperChannel& Channel() const { return *channel_; }

 private:
  std::shared_ptr<HelperChannel> channel_;
  uint64_t generation_;
  uint32_t id_;
};

class HelperDriveHandle : public DriveHandle {
 public:
  HelperDriveHandle(std::shared_ptr<HelperChannel> channel, uint64_t generation, uint32_t id,
                    std::shared_ptr<PostedOpen> posted)
      : handle_(std::move(channel), generation, id), posted_(std::move(posted)) {}

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
  bool OpenFailed() const override { return posted_ && handle_.Channel().OpenFailed(*posted_); }

 private:
  ForwardedHandle handle_;
  std::shared_ptr<PostedOpen> posted_;  // null when the open was waited for
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
    if (!IsDriveNumber(driveNumber)) return nullptr;
    const auto generation = channel_->Running();
    if (!generation) return nullptr;
    auto opened = channel_->OpenAta(*generation, static_cast<uint8_t>(driveNumber));
    if (!opened) return nullptr;
    return std::make_unique<HelperDriveHandle>(channel_, *generation, opened->first,
                                               std::move(opened->second));
  }

  bool SendsBatchesWhole() const override { return true; }
  void PassThroughEach(std::span<FreshOpenRequest> requests) override {
    const auto generation = channel_->Running();
    if (!generation) return;
    if (!channel_->PassThroughEach(*generation, requests)) DriveSystem::PassThroughEach(requests);
  }
  NvmeHandlePtr OpenNvme(int controller) override {
    if (controller < 0 || controller > 255) return nullptr;
    const auto generation = channel_->Running();
    if (!generation) return nullptr;
    const auto id = channel_->OpenNvme(*generation, static_cast<uint8_t>(controller));
    if (!id) return nullptr;
    return std::make_unique<HelperNvmeHandle>(channel_, *generation, *id);
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
