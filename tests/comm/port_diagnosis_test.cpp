// Why a port does not open, as the run log and the reference host tell it:
// every case over a real pseudo-terminal (or a path that is none), with the
// other program played by a child process and UUCP lock files in a
// temporary lock directory. The host-visible status text never changes.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/comm_class.h"
#include "comm/pty_peer.h"
#include "config/device_pdb.h"
#include "platform/gbk.h"
#include "platform/serial_diagnosis.h"
#include "support/fake_clock.h"

namespace tk571 {
namespace {

using test::PointLink;
using test::PtyPeer;
using test::TempDir;

constexpr char kHolderName[] = "portholder";

// Another program: a child process that sets itself up, hands back a note
// (a device name, say) and lives until the object goes away. It keeps none
// of the test's descriptors: an inherited pseudo-terminal master would make
// it the line's far end.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<std::string()>& setup) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      CloseAllBut(ready[1], release[0]);
      prctl(PR_SET_NAME, kHolderName);
      const std::string note = setup() + '\n';
      if (write(ready[1], note.data(), note.size()) != static_cast<ssize_t>(note.size())) _exit(1);
      char ignored;
      while (read(release[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char buffer[256];
    ssize_t n;
    while ((n = read(ready[0], buffer, sizeof buffer)) > 0) {
      note_.append(buffer, static_cast<std::size_t>(n));
      if (note_.back() == '\n') break;
    }
    close(ready[0]);
    if (note_.empty()) throw std::runtime_error("the other process did not start");
    note_.pop_back();
  }
  ~OtherProcess() {
    close(release_);
    waitpid(pid_, nullptr, 0);
  }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  int Pid() const { return pid_; }
  const std::string& Note() const { return note_; }

 private:
  static void CloseAllBut(int a, int b) {
    std::vector<int> open_fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      open_fds.push_back(std::stoi(entry.path().filename().string()));
    }
    for (const int fd : open_fds) {
      if (fd > 2 && fd != a && fd != b) close(fd);
    }
  }

  pid_t pid_ = -1;
  int release_ = -1;
  std::string note_;
};

// A process id that no process has any more.
int GonePid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// minicom's form: the process id right-aligned in ten characters.
std::string AsciiLock(int pid) {
  std::string text = std::to_string(pid);
  return std::string(10 - text.size(), ' ') + text + "\n";
}
std::string BinaryLock(int pid) {
  return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

struct Scene {
  std::string link;      // what TK571_COM1 names
  std::string slave;     // the pseudo-terminal behind it
  std::string lock_dir;  // TK571_LOCK_DIR
  int other_pid = 0;     // the other program, when the row starts one
};

struct DiagnosisCase {
  const char* name;
  // Sets the scene up; may start the other program into `other`.
  std::function<void(Scene&, std::unique_ptr<OtherProcess>& other)> setup;
  bool opens;
  // The reason after "Com1 (<link>): ", with {pid} for the other program.
  std::string reason;
};

void PrintTo(const DiagnosisCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Expand(std::string text, const Scene& scene) {
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"{pid}", std::to_string(scene.other_pid)},
        {"{lockdir}", scene.lock_dir},
        {"{slave}", BaseName(scene.slave)}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

const DiagnosisCase kCases[] = {
    {"free", [](Scene&, auto&) {}, true, "opened"},
    {"missing", [](Scene& s, auto&) { s.link += ".absent"; }, false, "does not exist"},
    {"not a terminal",
     [](Scene& s, auto&) {
       s.link += ".file";
       WriteFile(s.link, "x");
     },
     false, "not a serial device"},
    {"a character device that is no terminal, which other programs hold",
     [](Scene& s, auto&) { PointLink(s.link, "/dev/null"); }, false, "not a serial device"},
    {"held without any lock",
     [](Scene& s, auto& other) {
       const std::string slave = s.slave;
       other = std::make_unique<OtherProcess>([slave] {
         if (open(slave.c_str(), O_RDWR | O_NOCTTY) < 0) _exit(1);
         return std::string();
       });
       s.other_pid = other->Pid();
     },
     false, std::string("held by process {pid} (") + kHolderName + ")"},
    {"held with flock",
     [](Scene& s, auto& other) {
       const std::string slave = s.slave;
       other = std::make_unique<OtherProcess>([slave] {
         const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
         if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
         return std::string();
       });
       s.other_pid = other->Pid();
     },
     false, std::string("held by process {pid} (") + kHolderName + ")"},
    {"the far end of the pseudo-terminal holds master and slave",
     [](Scene& s, auto& other) {
       // Like the simulator: its own pseudo-terminal, with the slave kept
       // open so that the line does not hang up between connections.
       other = std::make_unique<OtherProcess>([] {
         const int master = posix_openpt(O_RDWR | O_NOCTTY);
         if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(1);
         const char* name = ptsname(master);
         if (name == nullptr || open(name, O_RDWR | O_NOCTTY) < 0) _exit(1);
         return std::string(name);
       });
       s.slave = other->Note();
       PointLink(s.link, s.slave);
     },
     true, "opened"},
    {"live ASCII lock under the device's name",
     [](Scene& s, auto& other) {
       other = std::make_unique<OtherProcess>([] { return std::string(); });
       s.other_pid = other->Pid();
       WriteFile(s.lock_dir + "/LCK.." + BaseName(s.slave), AsciiLock(s.other_pid));
     },
     false,
     std::string("locked by process {pid} (") + kHolderName + ") through {lockdir}/LCK..{slave}"},
    {"live binary lock under the link's name",
     [](Scene& s, auto& other) {
       other = std::make_unique<OtherProcess>([] { return std::string(); });
       s.other_pid = other->Pid();
       WriteFile(s.lock_dir + "/LCK..com1", BinaryLock(s.other_pid));
     },
     false,
     std::string("locked by process {pid} (") + kHolderName + ") through {lockdir}/LCK..com1"},
    {"stale lock",
     [](Scene& s, auto&) {
       WriteFile(s.lock_dir + "/LCK.." + BaseName(s.slave), AsciiLock(GonePid()));
     },
     true, "opened"},
    {"our own lock",
     [](Scene& s, auto&) { WriteFile(s.lock_dir + "/LCK..com1", AsciiLock(getpid())); }, true,
     "opened"},
    {"unreadable lock contents",
     [](Scene& s, auto&) { WriteFile(s.lock_dir + "/LCK..com1", "garbage\n"); }, true, "opened"},
};

class PortDiagnosisTest : public ::testing::TestWithParam<DiagnosisCase> {
 protected:
  void SetUp() override {
    scene_.link = dir_.path() + "/com1";
    scene_.lock_dir = locks_.path();
    PointLink(scene_.link, peer_.SlavePath());
    scene_.slave = peer_.SlavePath();
    setenv("TK571_LOCK_DIR", scene_.lock_dir.c_str(), 1);
    pdb_.FillDefaults();
  }
  void TearDown() override {
    unsetenv("TK571_COM1");
    unsetenv("TK571_LOCK_DIR");
  }

  testing::FakeClock clock_;
  TempDir dir_;
  TempDir locks_;
  PtyPeer peer_;
  Scene scene_;
  TDevicePDB pdb_;
};

TEST_P(PortDiagnosisTest, TheLogNamesDeviceAndReasonAndTheHostTextStays) {
  const DiagnosisCase& c = GetParam();
  std::unique_ptr<OtherProcess> other;
  c.setup(scene_, other);
  setenv("TK571_COM1", scene_.link.c_str(), 1);

  TCommClass comm(true);
  std::string message;
  EXPECT_EQ(comm.Open(pdb_, true, message), c.opens);
  EXPECT_EQ(platform::FromGbk(message), c.opens ? "Com1打开成功" : "Com1不存在或被其它程序占用！");
  EXPECT_EQ(comm.Diagnosis(), "Com1 (" + scene_.link + "): " + Expand(c.reason, scene_));
  comm.Close();

  // The reference host's check, without opening, says the same.
  const platform::SerialOpenOutcome check = platform::CheckSerialDevice(scene_.link);
  EXPECT_EQ(platform::SerialOpenReason(scene_.link, check),
            c.opens ? "free" : Expand(c.reason, scene_));
}

INSTANTIATE_TEST_SUITE_P(Cases, PortDiagnosisTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name)) {
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           }
                           return name;
                         });

// Permission: checked by an unprivileged process, since root may open
// anything.
TEST(PortPermissionTest, APortThisUserMayNotUseSaysWhichGroupToJoin) {
  PtyPeer peer;
  ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0660), 0);
  struct stat st {};
  ASSERT_EQ(stat(peer.SlavePath().c_str(), &st), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
          setuid(nobody->pw_uid) != 0) {
        _exit(2);
      }
    } else if (chmod(peer.SlavePath().c_str(), 0) != 0) {
      _exit(2);
    }
    platform::SerialPort port;
    const platform::SerialOpenOutcome opened = port.Open(peer.SlavePath());
    const platform::SerialOpenOutcome checked = platform::CheckSerialDevice(peer.SlavePath());
    const std::string text = platform::SerialOpenReason(peer.SlavePath(), opened) + "|" +
                             platform::SerialOpenReason(peer.SlavePath(), checked);
    if (write(out[1], text.data(), text.size()) < 0) _exit(3);
    _exit(0);
  }
  close(out[1]);
  char buffer[512] = {};
  const ssize_t n = read(out[0], buffer, sizeof buffer - 1);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  const std::string group = getgrgid(st.st_gid) ? getgrgid(st.st_gid)->gr_name : "dialout";
  const std::string reason = "permission denied, add the user to group " + group;
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), reason + "|" + reason);
}

// RS-485 direction control is asked for per port; a pseudo-terminal refuses
// it, and the port still opens.
TEST(Rs485Test, ARefusedRequestIsReportedAndNotFatal) {
  testing::FakeClock clock;
  PtyPeer peer;
  TDevicePDB pdb;
  pdb.FillDefaults();
  setenv("TK571_COM1", peer.SlavePath().c_str(), 1);
  setenv("TK571_COM1_RS485", "1", 1);
  TCommClass comm(true);
  std::string message;
  EXPECT_TRUE(comm.Open(pdb, true, message));
  EXPECT_EQ(platform::FromGbk(message), "Com1打开成功");
  EXPECT_EQ(comm.Diagnosis(), "Com1 (" + peer.SlavePath() +
                                  "): opened, RS-485 direction control refused: " +
                                  std::strerror(ENOTTY) + ", RTS dropped");
  unsetenv("TK571_COM1_RS485");
  EXPECT_TRUE(comm.Open(pdb, true, message));
  EXPECT_EQ(comm.Diagnosis(), "Com1 (" + peer.SlavePath() + "): opened");
  unsetenv("TK571_COM1");
}

// What the run log names when framing errors keep coming and nothing can
// be understood: the line's own rate and format, and a doubled number.
TEST(FramingDiagnosisTest, NamesTheRateTheFormatAndADoubledNumber) {
  testing::FakeClock clock;
  PtyPeer peer;
  TDevicePDB pdb;
  pdb.FillDefaults();
  pdb.SetBaudIndex(4);
  pdb.SetDataBitsCode(3);
  setenv("TK571_COM1", peer.SlavePath().c_str(), 1);
  TCommClass comm(true);
  std::string message;
  ASSERT_TRUE(comm.Open(pdb, true, message));
  EXPECT_EQ(comm.FramingDiagnosis(12),
            "Com1 (" + peer.SlavePath() +
                "): 12 framing errors and no answer understood: the controllers may run another "
                "baud rate than 2400 or another line format than 7E1, or two controllers with "
                "one device number answer at once");
  unsetenv("TK571_COM1");
}

TEST(Rs485Test, TheEnvironmentOfEachPortSwitchesAndTimesIt) {
  struct Row {
    const char* enabled;
    const char* before;
    const char* after;
    bool on;
    uint32_t before_ms;
    uint32_t after_ms;
  };
  const Row rows[] = {
      {nullptr, nullptr, nullptr, false, 0, 0},
      {"1", nullptr, nullptr, true, 0, 0},
      {"0", "5", "5", false, 5, 5},
      {"yes", nullptr, nullptr, false, 0, 0},
      {"1", "2", "10", true, 2, 10},
      {"1", "x", "-3", true, 0, 0},
      {"1", "", "4ms", true, 0, 0},
  };
  const auto put = [](const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.enabled ? row.enabled : "-") + " " +
                 (row.before ? row.before : "-") + " " + (row.after ? row.after : "-"));
    put("TK571_COM3_RS485", row.enabled);
    put("TK571_COM3_RS485_DELAY_BEFORE", row.before);
    put("TK571_COM3_RS485_DELAY_AFTER", row.after);
    const platform::SerialRs485 got = platform::SerialRs485Setting(2);
    EXPECT_EQ(got.enabled, row.on);
    EXPECT_EQ(got.delay_before_ms, row.before_ms);
    EXPECT_EQ(got.delay_after_ms, row.after_ms);
    // Another port's variables are not this one's.
    EXPECT_FALSE(platform::SerialRs485Setting(0).enabled);
  }
  put("TK571_COM3_RS485", nullptr);
  put("TK571_COM3_RS485_DELAY_BEFORE", nullptr);
  put("TK571_COM3_RS485_DELAY_AFTER", nullptr);
}

}  // namespace
}  // namespace tk571
