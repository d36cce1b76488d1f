// The TLS transport loaded from its module: where it is looked for, what a missing or broken
// module gives, and that failures thrown inside the module reach the client as SmtpFailure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "mail/SmtpClient.h"
#include "mail/transport/LoadedTransport.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

class LoadedTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("dv-transport-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(LoadedTransportTest, LooksBesideAnInstalledOrBundledProgramFirst) {
  const auto candidates = TransportModuleCandidates("/opt/dv/bin/diskvigil");
  ASSERT_EQ(candidates.size(), 4u);
  // The installed tree's own library folder, wherever the tree was unpacked.
  EXPECT_EQ(candidates[0].string().rfind("/opt/dv/lib/", 0), 0u) << candidates[0];
  EXPECT_EQ(candidates[0].parent_path().filename(), "diskvigil");
  EXPECT_EQ(candidates[1], fs::path("/opt/dv/bin/diskvigil-smtp-tls.so"));
  EXPECT_EQ(candidates[3].filename(), "diskvigil-smtp-tls.so");
  // Without a program file only the fixed places are left.
  EXPECT_EQ(TransportModuleCandidates({}).size(), 2u);
}

TEST_F(LoadedTransportTest, AMissingOrBrokenModuleIsNamedInTheReason) {
  std::string reason;
  EXPECT_EQ(LoadTransportEntry({folder_ / kTransportModuleFile}, reason), nullptr);
  EXPECT_EQ(reason, "the mail module diskvigil-smtp-tls.so was not found");

  const fs::path broken = folder_ / kTransportModuleFile;
  std::ofstream(broken) << "not a library";
  EXPECT_EQ(LoadTransportEntry({broken}, reason), nullptr);
  EXPECT_EQ(reason.rfind("the mail module " + broken.string() + " cannot be loaded: ", 0), 0u)
      << reason;
}

TEST_F(LoadedTransportTest, AModuleOthersCouldChangeIsNotLoaded) {
  std::string reason;
  const fs::path real = TransportModuleCandidates({}).back();
  const fs::path copy = folder_ / kTransportModuleFile;
  fs::copy_file(real, copy);
  fs::permissions(copy, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(LoadTransportEntry({copy}, reason), nullptr);
  EXPECT_EQ(reason,
            "the mail module is not loaded: " + copy.string() + " is writable by other users");
  fs::permissions(copy, fs::perms::others_write, fs::perm_options::remove);
  fs::permissions(folder_, fs::perms::group_write, fs::perm_options::add);
  EXPECT_EQ(LoadTransportEntry({copy}, reason), nullptr);
  EXPECT_EQ(reason,
            "the mail module is not loaded: " + folder_.string() + " is writable by other users");
}

TEST_F(LoadedTransportTest, FailuresInsideTheModuleReachTheClientAsSmtpFailure) {
  std::string reason;
  const TransportEntry entry = LoadTransportEntry(TransportModuleCandidates({}), reason);
  ASSERT_NE(entry, nullptr) << reason;
  SmtpClient client(SmtpLimits{}, [entry] { return WrapModuleTransport(entry()); });
  // Port 1 on this machine: nothing listens there.
  try {
    client.Connect("127.0.0.1", 1);
    FAIL() << "connected to port 1";
  } catch (const SmtpFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "connection refused (127.0.0.1:1)");
  }
  EXPECT_FALSE(client.Connected());
}

TEST_F(LoadedTransportTest, TheProgramsTransportConnectsThroughTheModule) {
  // Found in the build tree here; a module that did not load would give its own reason instead.
  SmtpClient client;
  try {
    client.Connect("127.0.0.1", 1);
    FAIL() << "connected to port 1";
  } catch (const SmtpFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "connection refused (127.0.0.1:1)");
  }
}

}  // namespace
}  // namespace dv
