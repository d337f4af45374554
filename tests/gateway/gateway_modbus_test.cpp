// tk571-gateway's Modbus TCP server as a PLC sees it: a libmodbus client
// against the program and tk571-sim on a pseudo-terminal. Weights as float32
// in both word orders, the status of a silent controller, set-points and the
// recipe loaded through coils onto the wire, the exception of each refused
// write, and clients that misbehave.
#include <modbus/modbus.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>

#include "gateway/gateway_fixture.h"

namespace tk571::gateway_test {
namespace {

constexpr int kStatusLink = 2;
constexpr uint16_t kNeverConfirmed = 0xFFFF;

using Client = std::unique_ptr<modbus_t, void (*)(modbus_t*)>;

void CloseClient(modbus_t* ctx) {
  modbus_close(ctx);
  modbus_free(ctx);
}

// "M1 FINAL 500" as the simulator's trace shows an answer: "<< 4D 31 ...".
std::string AnswerHex(const std::string& text) {
  std::string hex = "<<";
  for (unsigned char c : text) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02X", c);
    hex += byte;
  }
  return hex;
}

// A float32 in two registers, high word first or low word first. (The
// float helpers of libmodbus 3.1.6 swap the bytes of each word on a
// little-endian machine.)
void PutFloat(float value, bool high_first, uint16_t* words) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  words[high_first ? 0 : 1] = static_cast<uint16_t>(bits >> 16);
  words[high_first ? 1 : 0] = static_cast<uint16_t>(bits);
}

float GetFloat(const uint16_t* words, bool high_first) {
  const uint32_t high = words[high_first ? 0 : 1];
  const uint32_t low = words[high_first ? 1 : 0];
  return std::bit_cast<float>(high << 16 | low);
}

// A device with its weight, the twelve set-points of a recipe (and a
// medium set-point the configuration leaves read-only), LOAD_SETM and START_UP.
std::string RecipeDeviceJson(int number) {
  const std::string n = std::to_string(number);
  std::string tags = R"({"name": "weight", "address": "READ)" + n + R"(:1", "scan_ms": 100})";
  for (const char* kind : {"M_FINAL", "M_COARSE", "M_FINE"}) {
    for (int m = 1; m <= 4; ++m) {
      tags += std::string(R"(, {"name": ")") + kind + std::to_string(m) + R"(", "address": ")" +
              kind + n + ":" + std::to_string(m) + R"(", "writable": true})";
    }
  }
  tags += R"(, {"name": "medium_1", "address": "M_MEDIUM)" + n + R"(:1"})";
  tags += R"(, {"name": "load", "address": "LOAD_SETM)" + n + R"(:1"})";
  tags += R"(, {"name": "run", "address": "START_UP)" + n + R"(:1"})";
  return R"({"number": )" + n + R"(, "name": "scale)" + n + R"(", "tags": [)" + tags + "]}";
}

class GatewayModbus : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tk571-modbus-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    port_ = FreeLocalPort();
  }
  void TearDown() override {
    gateway_.reset();
    sim_.reset();
    fs::remove_all(dir_);
  }

  void StartSimulator(std::vector<std::string> faults = {}) {
    sim_ = StartSimulatorIn(dir_, faults);
    ASSERT_TRUE(sim_->ReadUntil("\n", kStartLimit)) << "simulator did not start";
  }

  // No broker listens: the Modbus side works without one.
  void StartGateway(const std::string& word_order = "big") {
    std::ofstream(dir_ + "/gateway.json")
        << R"({"library": ")" TK571_DRIVER_LIBRARY R"(",
      "broker": {"url": "mqtt://127.0.0.1:)"
        << FreeLocalPort() << R"(", "reconnect_max_s": 60},
      "writes": {"enabled": true, "commands": true, "min_interval_ms": 0},
      "modbus": {"port": )"
        << port_ << R"(, "word_order": ")" << word_order << R"(", "max_clients": 4},
      "lines": [{"name": "line1", "port": ")"
        << Tty() << R"(", "baud": 115200, "data_bits": 8, "parity": "none",
                 "devices": [)"
        << RecipeDeviceJson(1) << ", " << RecipeDeviceJson(2) << "]}]}";
    gateway_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_GATEWAY_PROGRAM, "--config", dir_ + "/gateway.json"},
        std::vector<std::string>{}, dir_, true);
    WaitForLog("modbus: listening on 127.0.0.1:");
  }

  void WaitForLog(const std::string& text, int times = 1) {
    ASSERT_TRUE(gateway_->ReadUntil(text, kEventLimit, times)) << "no \"" << text << "\" in:\n"
                                                               << gateway_->Output();
  }

  Client Connect(int unit = 1) {
    Client ctx(modbus_new_tcp("127.0.0.1", port_), &CloseClient);
    modbus_set_slave(ctx.get(), unit);
    modbus_set_response_timeout(ctx.get(), 10, 0);
    EXPECT_EQ(modbus_connect(ctx.get()), 0) << modbus_strerror(errno);
    return ctx;
  }

  std::vector<uint16_t> InputRegisters(modbus_t* ctx, int address, int count) {
    std::vector<uint16_t> words(static_cast<std::size_t>(count));
    EXPECT_EQ(modbus_read_input_registers(ctx, address, count, words.data()), count)
        << modbus_strerror(errno);
    return words;
  }

  // Repeats `look` until it holds, within the guard.
  bool Eventually(const std::function<bool()>& look) {
    const auto give_up = std::chrono::steady_clock::now() + kEventLimit;
    while (!look()) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
  }

  std::string Tty() const { return dir_ + "/tty"; }
  std::string Trace() const { return dir_ + "/trace.txt"; }

  std::string dir_;
  int port_ = 0;
  std::unique_ptr<Child> sim_;
  std::unique_ptr<Child> gateway_;
};

struct WordOrderCase {
  const char* word_order;
  bool high_first;
};

TEST_F(GatewayModbus, TheWeightReadsAsFloat32InTheConfiguredWordOrder) {
  const std::vector<WordOrderCase> cases = {
      {"big", true},
      {"little", false},
  };
  for (const WordOrderCase& c : cases) {
    SCOPED_TRACE(c.word_order);
    StartSimulator();
    StartGateway(c.word_order);
    WaitForLog("scale1: link 1 (normal)");
    Client ctx = Connect();
    // START_UP (coil 2 of device 1) runs the recipe: the scale's gross weight
    // climbs to 45 kg and the overshoot.
    ASSERT_EQ(modbus_write_bit(ctx.get(), 102, 1), 1) << modbus_strerror(errno);
    float weight = 0;
    std::vector<uint16_t> words;
    EXPECT_TRUE(Eventually([&] {
      words = InputRegisters(ctx.get(), 100, 4);
      weight = GetFloat(words.data(), c.high_first);
      return weight > 40 && weight < 60;
    })) << weight;
    EXPECT_EQ(words[2], 0) << "status";
    EXPECT_LT(words[3], 50) << "age in 100 ms";
    EXPECT_FALSE(std::fabs(GetFloat(words.data(), !c.high_first) - weight) < 1)
        << "the other word order";
    gateway_.reset();
    sim_.reset();
  }
}

TEST_F(GatewayModbus, ASilentControllerShowsItsLinkAndRefusesWrites) {
  StartSimulator({"--silent", "2"});
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  Client ctx = Connect();
  const std::vector<uint16_t> weight = InputRegisters(ctx.get(), 200, 4);
  EXPECT_EQ(weight[2], kStatusLink);
  EXPECT_EQ(weight[3], kNeverConfirmed);
  EXPECT_NE(InputRegisters(ctx.get(), 296, 1)[0], 1) << "link status of device 2";
  uint8_t links[2] = {};
  ASSERT_EQ(modbus_read_input_bits(ctx.get(), 100, 1, &links[0]), 1);
  ASSERT_EQ(modbus_read_input_bits(ctx.get(), 200, 1, &links[1]), 1);
  EXPECT_EQ(links[0], 1);
  EXPECT_EQ(links[1], 0);
  uint16_t value[2];
  PutFloat(300, true, value);
  EXPECT_EQ(modbus_write_registers(ctx.get(), 200, 2, value), -1);
  EXPECT_EQ(errno, MODBUS_ENOBASE + MODBUS_EXCEPTION_GATEWAY_TARGET);
}

// A recipe with FINAL > COARSE > FINE for every material, as LOAD_SETM needs.
const float kFinal[4] = {500, 300, 120, 12};
const float kCoarse[4] = {400, 250, 100, 8};
const float kFine[4] = {20, 5, 0, 1};

std::vector<uint16_t> Floats(const float* values, int n) {
  std::vector<uint16_t> words(static_cast<std::size_t>(2 * n));
  for (int i = 0; i < n; ++i) PutFloat(values[i], true, &words[2 * i]);
  return words;
}

struct RefusedWrite {
  const char* what;
  std::function<int(modbus_t*)> write;
  int exception;
};

TEST_F(GatewayModbus, SetPointsAndTheRecipeGoOntoTheWireAndRefusalsAreExceptions) {
  StartSimulator();
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  Client ctx = Connect();
  for (const auto& [base, values] : {std::pair{100, kFinal}, {108, kCoarse}, {116, kFine}}) {
    const std::vector<uint16_t> words = Floats(values, 4);
    ASSERT_EQ(modbus_write_registers(ctx.get(), base, 8, words.data()), 8)
        << base << ": " << modbus_strerror(errno);
  }
  // The driver keeps them in its recipe and reports them back.
  std::vector<uint16_t> back(8);
  EXPECT_TRUE(Eventually([&] {
    return modbus_read_registers(ctx.get(), 100, 8, back.data()) == 8 && back == Floats(kFinal, 4);
  }));
  ASSERT_EQ(modbus_write_bit(ctx.get(), 100, 1), 1) << modbus_strerror(errno);  // LOAD_SETM
  // While the dialogue runs the device is busy.
  uint16_t again[2];
  PutFloat(kFinal[0], true, again);
  EXPECT_TRUE(Eventually([&] {
    return modbus_write_registers(ctx.get(), 100, 2, again) == -1 &&
           errno == MODBUS_ENOBASE + MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY;
  }));
  // The controller echoes every value it took.
  for (const char* echo : {"M1 FINAL 500\r\n", "M3 COARSE 100\r\n", "M4 FINE 1\r\n"}) {
    EXPECT_TRUE(Eventually([&] {
      return ReadFile(Trace()).find(AnswerHex(echo)) != std::string::npos;
    })) << echo;
  }

  // The dialogue ends when the driver reports LOAD_SETM done.
  EXPECT_TRUE(Eventually([&] { return modbus_write_registers(ctx.get(), 100, 2, again) == 2; }));

  uint16_t nan[2];
  PutFloat(std::nanf(""), true, nan);
  uint16_t negative[2];
  PutFloat(-5, true, negative);
  uint16_t too_big[2];
  PutFloat(1e6, true, too_big);
  const std::vector<RefusedWrite> refused = {
      {"a read-only set-point",
       [&](modbus_t* m) { return modbus_write_registers(m, 124, 2, again); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS},
      {"half a set-point", [](modbus_t* m) { return modbus_write_register(m, 101, 1); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS},
      {"an address without a set-point",
       [](modbus_t* m) { return modbus_write_register(m, 150, 1); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS},
      {"not a number", [&](modbus_t* m) { return modbus_write_registers(m, 102, 2, nan); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
      {"below the range", [&](modbus_t* m) { return modbus_write_registers(m, 102, 2, negative); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
      {"above the range", [&](modbus_t* m) { return modbus_write_registers(m, 102, 2, too_big); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
  };
  for (const RefusedWrite& r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.write(ctx.get()), -1);
    EXPECT_EQ(errno, MODBUS_ENOBASE + r.exception) << modbus_strerror(errno);
  }
  // A refusal is logged as the broker's are, with its source.
  WaitForLog("modbus: write scale1/medium_1 = ");
}

// The printed map (CSV) of one line with one device and these tags; writes
// are off, so every set-point is read-only.
std::string MapOf(const std::string& dir, const std::string& tags) {
  std::ofstream(dir + "/map.json") << R"({"library": ")" TK571_DRIVER_LIBRARY R"(",
    "broker": {"url": "mqtt://127.0.0.1"}, "modbus": {"setpoints": "int32"},
    "lines": [{"name": "l1", "port": "Com1", "devices": [{"number": 3, "name": "s3",
    "tags": [)" << tags << "]}]}]}";
  Child check({TK571_GATEWAY_PROGRAM, "--config", "map.json", "--check", "--modbus-map=csv"}, {},
              dir, true);
  EXPECT_EQ(check.Finish(), 0) << check.Output();
  return check.Output();
}

TEST_F(GatewayModbus, TheMapFollowsDeviceNumbersAndKindsNotTheOrderOfTheFile) {
  const std::string weight = R"({"name": "w", "address": "READ3:1"})";
  const std::string target = R"({"name": "t2", "address": "M_FINAL3:2", "writable": true})";
  const std::string more =
      R"({"name": "run", "address": "START_UP3:1"}, {"name": "f4", "address": "ENQ3:4"})";
  const std::string small = MapOf(dir_, weight + ", " + target);
  const std::string large = MapOf(dir_, more + ", " + target + ", " + weight);
  for (
      const char* row :
      {"1,input register,300,2,float32,s3/w,live weight (kg)\n",
       "1,input register,303,1,uint16,s3/w,age of s3/w in 100 ms",
       R"row(1,holding register,302,2,int32 x10,s3/t2,"target weight, material 2 (kg), read-only")row",
       "1,input register,10004,2,uint32,l1/polls,"}) {
    EXPECT_NE(small.find(row), std::string::npos) << row << " in\n" << small;
  }
  std::istringstream rows(small);
  for (std::string row; std::getline(rows, row);) {
    EXPECT_NE(large.find(row + "\n"), std::string::npos) << row << " moved:\n" << large;
  }
}

struct RawRequest {
  const char* what;
  std::vector<uint8_t> pdu;  // unit id first
  int exception;
};

TEST_F(GatewayModbus, BadRequestsGetExceptionsAndAStalledClientBlocksNoOne) {
  StartSimulator();
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  // One client says nothing, another stops in the middle of a frame.
  const int silent = ConnectLocal(port_);
  const int half = ConnectLocal(port_);
  const uint8_t start_of_frame[] = {0, 1, 0, 0, 0, 6, 1};
  ASSERT_EQ(send(half, start_of_frame, sizeof start_of_frame, 0), 7);
  Client ctx = Connect();
  EXPECT_EQ(InputRegisters(ctx.get(), 100, 3).size(), 3u);
  const std::vector<RawRequest> cases = {
      {"unknown function", {1, 0x41, 0, 0}, MODBUS_EXCEPTION_ILLEGAL_FUNCTION},
      {"more registers than Modbus allows",
       {1, 0x04, 0, 100, 0, 200},
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
      {"an address out of the map",
       {1, 0x04, 0x13, 0x88, 0, 2},
       MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS},
      {"a unit that is not configured", {99, 0x04, 0, 100, 0, 2}, MODBUS_EXCEPTION_GATEWAY_PATH},
  };
  for (const RawRequest& r : cases) {
    SCOPED_TRACE(r.what);
    ASSERT_GT(modbus_send_raw_request(ctx.get(), r.pdu.data(), static_cast<int>(r.pdu.size())), 0);
    uint8_t reply[MODBUS_TCP_MAX_ADU_LENGTH];
    EXPECT_EQ(modbus_receive_confirmation(ctx.get(), reply), 9);
    EXPECT_EQ(reply[7], r.pdu[1] | 0x80);
    EXPECT_EQ(reply[8], r.exception);
  }
  // The half frame has ended its connection; with a second silent client
  // and this one, the fourth is the last one allowed and the fifth is closed
  // at once.
  WaitForLog("disconnected: no complete request");
  const int silent_too = ConnectLocal(port_);
  Client fourth = Connect();
  const int fifth = ConnectLocal(port_);
  char byte;
  EXPECT_EQ(recv(fifth, &byte, 1, 0), 0);
  EXPECT_EQ(InputRegisters(fourth.get(), 100, 3).size(), 3u);
  for (int fd : {silent, half, silent_too, fifth}) close(fd);
}

}  // namespace
}  // namespace tk571::gateway_test
