// The helper's server loop: only the catalogue, in its canonical shape, reaches a device; every
// other request, malformed payload or broken stream ends in a refusal or the loop's end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "core/HelperProtocol.h"
#include "helper/DriveHelperServer.h"

namespace dv {
namespace {

// Counts every device call; drive and controller 0..3 exist.
class RecordingSystem : public DriveSystem {
 public:
  struct Handle : DriveHandle {
    explicit Handle(RecordingSystem& s) : system(s) {}
    bool PassThrough(std::span<uint8_t> request) override {
      system.ataCalls.emplace_back(request.begin(), request.end());
      WriteReturnedRegisters(request, TaskFile{0, 0, 0, 0x4F, 0xC2, 0xA0, 0x50, 0}, {});
      return true;
    }
    RecordingSystem& system;
  };
  struct Controller : NvmeHandle {
    explicit Controller(RecordingSystem& s) : system(s) {}
    bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
      system.nvmeCalls.push_back(request);
      std::fill(data.begin(), data.end(), uint8_t{0xA5});
      return true;
    }
    RecordingSystem& system;
  };

  DriveHandlePtr Open(int n) override {
    ++opens;
    return n < 4 ? std::make_unique<Handle>(*this) : nullptr;
  }
  NvmeHandlePtr OpenNvme(int n) override {
    return n < 4 ? std::make_unique<Controller>(*this) : nullptr;
  }
  std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
  std::string DescribeDrive(int) const override { return {}; }

  std::vector<std::vector<uint8_t>> ataCalls;
  std::vector<NvmeAdminRequest> nvmeCalls;
  int opens = 0;
};

std::span<const uint8_t> Payload(const std::vector<uint8_t>& frame) {
  return std::span<const uint8_t>(frame).subspan(kHelperFrameLengthSize);
}

HelperReply Ask(DriveHelperServer& server, const HelperRequest& request) {
  const auto reply =
      DecodeHelperReply(Payload(server.Answer(Payload(EncodeHelperRequest(request)))));
  EXPECT_TRUE(reply.has_value());
  return reply.value_or(HelperReply{});
}

uint32_t OpenHandle(DriveHelperServer& server, HelperRequestType type) {
  HelperRequest open;
  open.type = type;
  const HelperReply reply = Ask(server, open);
  EXPECT_EQ(reply.type, HelperReplyType::Opened);
  return reply.handle;
}

HelperRequest AtaRequest(uint32_t handle, const AtaCommandRequest& r) {
  HelperRequest request;
  request.type = HelperRequestType::AtaCommand;
  request.handle = handle;
  request.ata = BuildAtaRequest(r.ataFlags, r.current, r.dataLength, r.previous);
  return request;
}

// A catalogue request of drive 0; SET FEATURES takes any level in its Sector Count.
bool IsCatalogueRequest(const std::set<std::vector<uint8_t>>& catalogue,
                        const std::vector<uint8_t>& request) {
  if (catalogue.count(request) != 0) return true;
  const uint8_t level = request[kOffsetCurrentTaskFile + 1];
  for (uint8_t sub : {0x42, 0xC2, 0x05, 0x85}) {
    const auto r = MakeSetFeatures(0, sub, level);
    if (BuildAtaRequest(r.ataFlags, r.current, r.dataLength, r.previous) == request) return true;
  }
  return false;
}

// Each catalogue request of drive 0 with every command byte, every feature value where the feature
// selects a subcommand (SMART, SET FEATURES) and each flag combination, on an open handle and on a
// fresh open: exactly the catalogue's own requests reach the drive, everything else gets the
// guard's refusal, and a refused fresh-open request opens nothing.
TEST(DriveHelperServerTest, OnlyCatalogueAtaRequestsReachTheDrive) {
  std::vector<AtaCommandRequest> templates;
  for (int c = 0; c <= static_cast<int>(kLastAtaCommand); ++c) {
    const auto command = static_cast<AtaCommand>(c);
    if (command == AtaCommand::SmartExecuteOffline) {
      for (uint8_t routine : {0x01, 0x02, 0x03, 0x7F})
        templates.push_back(MakeSmartSelfTest(0, routine));
    } else if (command == AtaCommand::SmartReadLog) {
      for (uint8_t log : {0x00, 0x01, 0x06}) templates.push_back(MakeSmartReadLog(0, log));
    } else if (command == AtaCommand::SetFeatures) {
      for (uint8_t sub : {0x42, 0xC2, 0x05, 0x85}) templates.push_back(MakeSetFeatures(0, sub, 9));
    } else if (command == AtaCommand::ReadSectors || command == AtaCommand::ReadSectorsExt) {
      templates.push_back(MakeReadSector(0, 0x0123456, command == AtaCommand::ReadSectorsExt));
    } else {
      templates.push_back(MakeAtaCommand(command, 0));
    }
  }
  std::set<std::vector<uint8_t>> catalogue;
  for (const auto& t : templates) catalogue.insert(AtaRequest(0, t).ata);
  const std::vector<uint16_t> noDataFlags{0, kAtaFlagsDrdyRequired,
                                          kAtaFlagsDrdyRequired | kAtaFlags48BitCommand};
  const std::vector<uint16_t> dataFlags{
      kAtaFlagsDataIn, kAtaFlagsDrdyRequired | kAtaFlagsDataIn,
      kAtaFlagsDrdyRequired | kAtaFlagsDataIn | kAtaFlags48BitCommand};
  RecordingSystem system;
  DriveHelperServer server(system);
  const uint32_t handle = OpenHandle(server, HelperRequestType::OpenAta);
  std::set<std::vector<uint8_t>> passed;
  for (const auto& t : templates) {
    for (int command = 0; command < 256; ++command) {
      const bool selects = command == 0xB0 || command == 0xEF;
      for (int features = selects ? 0 : t.current.features;
           features < (selects ? 256 : t.current.features + 1); ++features) {
        // Where LBA Low picks a self-test routine or a log, every value of it: the captive
        // routines 81h-84h and every other log are refused.
        const bool picks = command == 0xB0 && (features == 0xD4 || features == 0xD5);
        for (int lbaLow = picks ? 0 : t.current.lbaLow;
             lbaLow < (picks ? 256 : t.current.lbaLow + 1); ++lbaLow) {
          for (uint16_t flags : t.dataLength == 0 ? noDataFlags : dataFlags) {
            AtaCommandRequest r = t;
            r.ataFlags = flags;
            r.current.command = static_cast<uint8_t>(command);
            r.current.features = static_cast<uint8_t>(features);
            r.current.lbaLow = static_cast<uint8_t>(lbaLow);
            for (const bool freshOpen : {false, true}) {
              HelperRequest request = AtaRequest(handle, r);
              if (freshOpen) request.type = HelperRequestType::AtaOnFreshOpen;
              const size_t callsBefore = system.ataCalls.size();
              const int opensBefore = system.opens;
              const HelperReply reply = Ask(server, request);
              const bool inCatalogue = IsCatalogueRequest(catalogue, request.ata);
              ASSERT_EQ(system.ataCalls.size(), callsBefore + (inCatalogue ? 1 : 0))
                  << "command " << command << " features " << features << " flags " << flags;
              ASSERT_EQ(system.opens, opensBefore + (freshOpen && inCatalogue ? 1 : 0));
              if (inCatalogue) {
                passed.insert(request.ata);
                ASSERT_EQ(reply.type, HelperReplyType::AtaResult);
                ASSERT_EQ(reply.flags & kHelperCallSucceeded, kHelperCallSucceeded);
              } else {
                ASSERT_EQ(reply.type, HelperReplyType::Refused) << "command " << command;
                ASSERT_EQ(reply.refusal, HelperRefusal::NotInCatalogue) << "command " << command;
              }
            }
          }
        }
      }
    }
  }
  for (const auto& request : catalogue) EXPECT_EQ(passed.count(request), 1u);
}

// Every opcode with each catalogue command's other fields, and the write direction.
TEST(DriveHelperServerTest, OnlyCatalogueNvmeCommandsReachTheController) {
  RecordingSystem system;
  DriveHelperServer server(system);
  HelperRequest request;
  request.type = HelperRequestType::NvmeCommand;
  request.handle = OpenHandle(server, HelperRequestType::OpenNvme);
  for (int c = 0; c <= static_cast<int>(kLastNvmeAdminCommand); ++c) {
    const NvmeAdminRequest known = MakeNvmeAdminCommand(static_cast<NvmeAdminCommand>(c));
    for (int opcode = 0; opcode < 256; ++opcode) {
      for (bool dataIn : {true, false}) {
        request.nvme = known;
        request.nvme.opcode = static_cast<uint8_t>(opcode);
        request.nvme.dataIn = dataIn;
        const bool inCatalogue = opcode == known.opcode && dataIn;
        const size_t callsBefore = system.nvmeCalls.size();
        const HelperReply reply = Ask(server, request);
        ASSERT_EQ(system.nvmeCalls.size(), callsBefore + (inCatalogue ? 1 : 0)) << opcode;
        if (inCatalogue) {
          ASSERT_EQ(reply.type, HelperReplyType::NvmeResult);
          EXPECT_EQ(reply.data, std::vector<uint8_t>(known.dataLength, 0xA5));
        } else {
          ASSERT_EQ(reply.type, HelperReplyType::Refused) << opcode;
          EXPECT_EQ(reply.refusal, HelperRefusal::NotInCatalogue) << opcode;
        }
      }
    }
  }
}

// Payloads of the wrong length or type, non-canonical requests and unknown handles.
TEST(DriveHelperServerTest, MalformedPayloadsAreRefusedWithoutADeviceCall) {
  RecordingSystem system;
  DriveHelperServer server(system);
  const uint32_t ata = OpenHandle(server, HelperRequestType::OpenAta);
  const uint32_t nvme = OpenHandle(server, HelperRequestType::OpenNvme);
  auto frame = [](const HelperRequest& r) {
    const auto f = EncodeHelperRequest(r);
    return std::vector<uint8_t>(f.begin() + kHelperFrameLengthSize, f.end());
  };
  const HelperRequest identify = AtaRequest(ata, MakeAtaCommand(AtaCommand::Identify, 0));
  const HelperRequest status = AtaRequest(ata, MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  HelperRequest log;
  log.type = HelperRequestType::NvmeCommand;
  log.handle = nvme;
  log.nvme = MakeNvmeAdminCommand(NvmeAdminCommand::HealthLog);

  struct Case {
    const char* what;
    std::vector<uint8_t> payload;
    HelperRefusal refusal;
  };
  std::vector<Case> cases{
      {"empty", {}, HelperRefusal::Malformed},
      {"type 0", {0x00, 0}, HelperRefusal::Malformed},
      {"type 7", {0x07, 0, 0, 0, 0}, HelperRefusal::Malformed},
      {"a reply type", {0x82, 1}, HelperRefusal::Malformed},
      {"open without number", {0x01}, HelperRefusal::Malformed},
      {"open with two bytes", {0x01, 0, 0}, HelperRefusal::Malformed},
      {"close with three bytes", {0x05, 1, 0, 0}, HelperRefusal::Malformed},
  };
  for (int cut : {1, 39, 41, 551, 553}) {
    std::vector<uint8_t> p = frame(identify);
    p.resize(1 + 4 + static_cast<size_t>(cut));
    cases.push_back({"ata request of odd size", p, HelperRefusal::Malformed});
  }
  HelperRequest fresh = status;
  fresh.type = HelperRequestType::AtaOnFreshOpen;
  for (int cut : {0, 39, 41}) {
    std::vector<uint8_t> p = frame(fresh);
    p.resize(1 + 1 + static_cast<size_t>(cut));
    cases.push_back({"fresh-open request of odd size", p, HelperRefusal::Malformed});
  }
  fresh.number = 5;
  cases.push_back(
      {"fresh open of a drive that is not there", frame(fresh), HelperRefusal::OpenFailed});
  std::vector<uint8_t> headerOnly = frame(identify);
  headerOnly.resize(1 + 4 + kRequestHeaderSize);  // says 512 bytes follow, none do
  cases.push_back({"identify without its data area", headerOnly, HelperRefusal::Malformed});
  std::vector<uint8_t> badLength = frame(status);
  badLength[1 + 4 + kOffsetLength] = 44;  // the header's own length field
  cases.push_back({"header length field", badLength, HelperRefusal::Malformed});
  std::vector<uint8_t> noTimeout = frame(status);
  noTimeout[1 + 4 + kOffsetTimeOutValue] = 0;
  cases.push_back({"no time-out", noTimeout, HelperRefusal::Malformed});
  for (size_t size : {22, 24}) {
    std::vector<uint8_t> p = frame(log);
    p.resize(size, 0);
    cases.push_back({"nvme request of odd size", p, HelperRefusal::Malformed});
  }
  std::vector<uint8_t> direction = frame(log);
  direction.back() = 2;
  cases.push_back({"nvme direction 2", direction, HelperRefusal::Malformed});
  HelperRequest wrongKind = identify;
  wrongKind.handle = nvme;
  cases.push_back({"ata on an nvme handle", frame(wrongKind), HelperRefusal::NoSuchHandle});
  HelperRequest wrongKindNvme = log;
  wrongKindNvme.handle = ata;
  cases.push_back({"nvme on an ata handle", frame(wrongKindNvme), HelperRefusal::NoSuchHandle});
  HelperRequest unknown = identify;
  unknown.handle = 999;
  cases.push_back({"unknown handle", frame(unknown), HelperRefusal::NoSuchHandle});

  for (const Case& c : cases) {
    const auto reply = DecodeHelperReply(Payload(server.Answer(c.payload)));
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->type, HelperReplyType::Refused) << c.what;
    EXPECT_EQ(reply->refusal, c.refusal) << c.what;
  }
  EXPECT_TRUE(system.ataCalls.empty());
  EXPECT_TRUE(system.nvmeCalls.empty());
}

TEST(DriveHelperServerTest, HandlesOpenCloseAndRunOut) {
  RecordingSystem system;
  DriveHelperServer server(system);
  HelperRequest open;
  open.type = HelperRequestType::OpenAta;
  open.number = 7;  // no such drive
  EXPECT_EQ(Ask(server, open).refusal, HelperRefusal::OpenFailed);
  open.type = HelperRequestType::OpenNvme;
  open.number = 16;  // beyond the controllers probed
  EXPECT_EQ(Ask(server, open).refusal, HelperRefusal::OpenFailed);

  const uint32_t handle = OpenHandle(server, HelperRequestType::OpenAta);
  HelperRequest close;
  close.type = HelperRequestType::Close;
  close.handle = handle;
  EXPECT_EQ(Ask(server, close).type, HelperReplyType::Closed);
  EXPECT_EQ(Ask(server, close).refusal, HelperRefusal::NoSuchHandle);
  EXPECT_EQ(Ask(server, AtaRequest(handle, MakeAtaCommand(AtaCommand::Identify, 0))).refusal,
            HelperRefusal::NoSuchHandle);

  for (size_t i = 0; i < kHelperMaxHandles; ++i) OpenHandle(server, HelperRequestType::OpenNvme);
  open.number = 0;
  EXPECT_EQ(Ask(server, open).refusal, HelperRefusal::TooManyHandles);
  EXPECT_TRUE(system.ataCalls.empty());
}

// The stream: complete frames are answered; a cut or impossible frame stops the loop.
TEST(DriveHelperServerTest, BrokenStreamsEndTheLoopBeforeAnyDeviceCall) {
  const auto open = EncodeHelperRequest({HelperRequestType::OpenAta, 0, 0, {}, {}});
  const auto identify = EncodeHelperRequest(AtaRequest(1, MakeAtaCommand(AtaCommand::Identify, 0)));
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    int exitCode;
    size_t ataCalls;
  };
  auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  auto cut = [](std::vector<uint8_t> a, size_t by) {
    a.resize(a.size() - by);
    return a;
  };
  const std::vector<Case> cases{
      {"nothing", {}, 0, 0},
      {"open and identify", join(open, identify), 0, 1},
      {"prefix cut", {0x06, 0x00}, 1, 0},
      {"zero length", {0, 0, 0, 0}, 1, 0},
      {"too long", {0xFF, 0xFF, 0, 0}, 1, 0},
      {"identify cut by one byte", join(open, cut(identify, 1)), 1, 0},
      {"identify cut to its prefix", join(open, cut(identify, identify.size() - 4)), 1, 0},
  };
  for (const Case& c : cases) {
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(write(in[1], c.stream.data(), c.stream.size()),
              static_cast<ssize_t>(c.stream.size()));
    close(in[1]);
    RecordingSystem system;
    EXPECT_EQ(ServeDriveHelper(system, in[0], out[1]), c.exitCode) << c.what;
    EXPECT_EQ(system.ataCalls.size(), c.ataCalls) << c.what;
    close(in[0]);
    close(out[0]);
    close(out[1]);
  }
}

}  // namespace
}  // namespace dv
