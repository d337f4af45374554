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
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
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
                  "m_final2:3", "kinds"},
                 &output),
            0)
      << output;
  EXPECT_NE(output.find("check m_final2:3: valid, normal form M_FINAL2:3.-1"), std::string::npos);
  EXPECT_NE(output.find("LOAD_SETM  bool   write       0..1                将配方下传"),
            std::string::npos);
  ASSERT_EQ(fs::file_size(dir_ + "/saved.pdb"), 26508u);

  // The saved block is what the driver checks against: device 2 is there,
  // device 3 is not, and the serial settings came along.
  ASSERT_EQ(Host({"--pdb", "saved.pdb", "check", "READ3:1", "check", "XYZ1:1"}, &output), 1);
  EXPECT_NE(output.find("check READ3:1: invalid, normal form READ3:-1.-1: device 3 is not "
                        "configured in the parameter block (--devices)"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("check XYZ1:1: invalid, normal form ENQ-1:-1.-1"), std::string::npos);
  ASSERT_EQ(Host({"--pdb", "saved.pdb"}, &output), 0);
  EXPECT_NE(output.find("Com1 19200 7E1, devices 2"), std::string::npos) << output;
}

TEST_F(HostProgram, CheckAppliesTheRulesOfTheStart) {
  struct Row {
    const char* address;
    int code;
    const char* said;
  };
  const Row rows[] = {
      {"READ1:1", 0, "check READ1:1: valid, normal form READ1:1.-1"},
      {"ENQ1:4", 0, "check ENQ1:4: valid, normal form ENQ1:4.-1"},
      {"READ9:1", 1,
       "check READ9:1: invalid, normal form READ9:-1.-1: device 9 is not configured in the "
       "parameter block (--devices)"},
      {"ENQ1:5", 1,
       "check ENQ1:5: invalid, normal form ENQ1:5.-1: channel 5 is outside 1..4 of ENQ"},
      {"XYZ1:1", 1,
       "check XYZ1:1: invalid, normal form ENQ-1:-1.-1: the driver does not accept the address"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    std::string output;
    EXPECT_EQ(Host({"--devices", "1,2", "check", row.address}, &output), row.code);
    EXPECT_NE(output.find(row.said), std::string::npos) << output;
  }
}

TEST_F(HostProgram, VersionNeedsNoLibrary) {
  Child child({TK571_HOST_PROGRAM, "--library", dir_ + "/nothing.so", "--version"}, {}, dir_, true);
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_EQ(child.Output(), std::string("tk571-host ") + TK571_PROJECT_VERSION + "\n");
}

#ifdef TK571_TEST_WITH_QT
// The wizard's event loop never looks at the host's flag; the signal ends the
// program anyway.
TEST_F(HostProgram, SignalsEndTheConfigurationDialog) {
  for (const int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal_number);
    Child child({TK571_HOST_PROGRAM, "--library", TK571_DRIVER_LIBRARY, "configure"},
                {"QT_QPA_PLATFORM=offscreen"}, dir_, true);
    ASSERT_TRUE(child.ReadUntil("the wizard is open", std::chrono::seconds(60))) << child.Output();
    // Again and again until it ends: the first may come while the toolkit
    // starts.
    int code = -1;
    for (int tries = 0; tries < 600 && code < 0; ++tries) {
      kill(child.Pid(), signal_number);
      code = child.PollExit(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(code, 128 + signal_number) << child.Output();
    child.ReadUntil("ended by a signal", std::chrono::seconds(5));
    EXPECT_NE(child.Output().find("tk571-host: configure ended by a signal"), std::string::npos)
        << child.Output();
  }
}
#endif

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

TEST_F(HostWithSimulator, OnceReadsEveryTagAndSaysWhetherEveryDeviceAnswered) {
  // JSON lines on standard output, one per tag, with ISO 8601 time stamps.
  Child host(HostArgs({"--once", "--format", "json"}), {"TK571_COM1=" + link_}, dir_, false);
  ASSERT_EQ(host.Finish(), 0) << host.Output();
  std::vector<std::string> addresses;
  std::size_t statistics = 0;
  std::size_t at = 0;
  for (std::size_t end; (end = host.Output().find('\n', at)) != std::string::npos; at = end + 1) {
    const nlohmann::json line = nlohmann::json::parse(host.Output().substr(at, end - at));
    if (line["type"] == "statistics") {
      ++statistics;
      EXPECT_TRUE(line["answered"].get<bool>()) << line;
      continue;
    }
    addresses.push_back(line["address"]);
    EXPECT_EQ(line["time"].get<std::string>().size(),
              std::string("2026-01-01T00:00:00.000+00:00").size());
  }
  EXPECT_EQ(addresses, (std::vector<std::string>{"COMMLINK", "DEVICELINK1", "READ1:1", "READ2:1"}));
  EXPECT_EQ(statistics, 2u);

  // A configured device without a controller: the values that came are
  // printed, and the exit code says that not every device answered.
  File("tags3.txt", "10 Weight1 READ1:1 float 100 -1\n30 Weight3 READ3:1 float 100 -1\n");
  std::vector<std::string> args = HostArgs({"--once", "--format", "csv", "--duration", "3s"});
  args[4] = "1,3";
  args[6] = "tags3.txt";
  Child silent(args, {"TK571_COM1=" + link_}, dir_, true);
  EXPECT_EQ(silent.Finish(), 1) << silent.Output();
  EXPECT_NE(silent.Output().find("time,id,name,address,value,quality,quality_text\n"),
            std::string::npos);
  EXPECT_NE(silent.Output().find(",10,Weight1,READ1:1,"), std::string::npos) << silent.Output();
  EXPECT_NE(silent.Output().find("no answer from device 3"), std::string::npos) << silent.Output();
}

TEST_F(HostWithSimulator, ARunNamesTheTagsTheDriverDrops) {
  File("tags.txt",
       "10 Weight1 READ1:1 float 100 -1\n"
       "19 Weight9 READ9:1 float 100\n"
       "15 Final5  ENQ1:5 float 100\n");
  Child host(HostArgs({"--duration", "1s"}), {"TK571_COM1=" + link_}, dir_, true);
  EXPECT_EQ(host.Finish(), 0) << host.Output();
  EXPECT_NE(host.Output().find("tag Weight9 (READ9:1) is dropped by the driver: device 9 is not "
                               "configured in the parameter block (--devices)"),
            std::string::npos)
      << host.Output();
  EXPECT_NE(host.Output().find("tag Final5 (ENQ1:5) is dropped by the driver: channel 5 is "
                               "outside 1..4 of ENQ"),
            std::string::npos);
  EXPECT_EQ(host.Output().find("tag Weight1"), std::string::npos);
  EXPECT_NE(host.Output().find("Statistics per device"), std::string::npos);
}

TEST_F(HostWithSimulator, ScanFindsTheAnsweringDevicesThroughTheDriver) {
  Child host(
      {TK571_HOST_PROGRAM, "--library", TK571_DRIVER_LIBRARY, "--device", link_, "scan", "0-3"}, {},
      dir_, true);
  EXPECT_EQ(host.Finish(), 0) << host.Output();
  EXPECT_NE(host.Output().find("scan 0-3: answering 1-2; no answer 0 3"), std::string::npos)
      << host.Output();
}

TEST_F(HostWithSimulator, APortInUseIsNamedWithItsHolder) {
  // The simulator holds both ends of its pseudo-terminal: the port is free.
  {
    Child ports({TK571_HOST_PROGRAM, "--library", TK571_DRIVER_LIBRARY, "--device", link_, "ports"},
                {}, dir_, true);
    EXPECT_EQ(ports.Finish(), 0);
    EXPECT_NE(ports.Output().find(" (Com1): free"), std::string::npos) << ports.Output();
  }
  const std::string slave = fs::canonical(link_).string();
  const std::string self = std::to_string(getpid());
  const std::string lock_dir = dir_ + "/locks";
  fs::create_directories(lock_dir);
  struct Row {
    const char* what;
    bool hold;
    bool lock;
    std::string reason;
  };
  const Row rows[] = {
      {"held without a lock", true, false, "held by process " + self + " (host_test)"},
      {"UUCP lock", false, true,
       "locked by process " + self + " (host_test) through " + lock_dir + "/LCK.." +
           fs::path(slave).filename().string()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const int fd = row.hold ? open(slave.c_str(), O_RDWR | O_NOCTTY) : -1;
    if (row.lock) {
      std::ofstream(lock_dir + "/LCK.." + fs::path(slave).filename().string())
          << "      " << self << "\n";
    }
    Child host(HostArgs({"--once"}), {"TK571_COM1=" + link_, "TK571_LOCK_DIR=" + lock_dir}, dir_,
               true);
    EXPECT_EQ(host.Finish(), 1);
    const std::string port = "Com1 (" + link_ + "): " + row.reason;
    // While the driver tries, and after it gave up.
    EXPECT_NE(host.Output().find(port + "; the driver keeps trying to open it for 5 s"),
              std::string::npos)
        << host.Output();
    EXPECT_NE(host.Output().find("Com1不存在或被其它程序占用！"), std::string::npos);
    EXPECT_NE(host.Output().find("the driver did not start (IniDriver answered false); " + port),
              std::string::npos)
        << host.Output();
    if (fd >= 0) close(fd);
    fs::remove_all(lock_dir);
    fs::create_directories(lock_dir);
  }
}

}  // namespace
