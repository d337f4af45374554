// The batch journal and the audit trail through the program, against a real
// broker and the simulator: three batches reported with their deviations,
// verdicts, totals and fill curve; a gateway killed during batches; a broker
// outage and a reload; an audit trail changed behind the gateway's back.
#include <fcntl.h>
#include <png.h>

#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "gateway_fixture.h"

namespace tk571::gateway_test {
namespace {

// Device 1 with the whole recipe writable (f1 = M_FINAL1:1, c1 = M_COARSE1:1,
// i1 = M_FINE1:1, ...), LOAD_SETM, and tolerances for three materials.
std::string RecipeDeviceJson() {
  std::string tags = R"({"name": "weight", "address": "READ1:1", "scan_ms": 100})";
  for (int m = 1; m <= 4; ++m) {
    const std::string n = std::to_string(m);
    tags += R"(, {"name": "final_)" + n + R"(", "address": "ENQ1:)" + n + R"("})";
    for (const auto& [name, kind] : {std::pair{"f", "FINAL"}, {"c", "COARSE"}, {"i", "FINE"}}) {
      tags += R"(, {"name": ")" + std::string(name) + n + R"(", "address": "M_)" + kind + "1:" + n +
              R"(", "writable": true})";
    }
  }
  tags +=
      R"(, {"name": "load", "address": "LOAD_SETM1:1"}, {"name": "run", "address": "START_UP1:1"})";
  return R"({"number": 1, "name": "scale1", "tolerances": [{"material": 1, "kg": 0.001},
             {"material": 2, "percent": 1}, {"material": 3, "kg": 0.05}], "tags": [)" +
         tags + "]}";
}

class Journal : public Gateway {
 protected:
  std::string JournalConfig() const {
    return R"({"library": ")" TK571_DRIVER_LIBRARY R"(",
      "broker": {"url": "mqtt://127.0.0.1:)" +
           std::to_string(port_) + R"(", "client_id": "gw-test", "topic_prefix": "tk571",
                 "reconnect_max_s": 2},
      "writes": {"enabled": true, "commands": true},
      "journal": {"directory": ".", "shifts": ["06:00", "14:00", "22:00"]},
      "lines": [{"name": "line1", "port": ")" +
           Tty() + R"(", "baud": 115200, "data_bits": 8, "parity": "none",
                 "devices": [)" +
           RecipeDeviceJson() + "]}]}";
  }

  // A batch takes a few seconds, so that its fill curve has points.
  void StartSlowSimulator(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--fast-rate", "20", "--slow-rate", "5", "--settle", "200"};
    args.insert(args.end(), more.begin(), more.end());
    StartSimulator(args);
  }
  void StartJournalGateway() { StartGateway(JournalConfig()); }

  // tk571-gateway report/verify with the test's configuration.
  std::pair<int, std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), TK571_GATEWAY_PROGRAM);
    args.insert(args.begin() + 2, {"--config", dir_ + "/gateway.json"});
    Child command(args, {"TZ=UTC"}, dir_, false);
    const int code = command.Finish();
    return {code, command.Output()};
  }
  nlohmann::json Report(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"report", "--format", "json"});
    const auto [code, output] = Command(args);
    EXPECT_EQ(code, 0) << output;
    return nlohmann::json::parse(output, nullptr, false);
  }

  void SendControl(const std::string& command) {
    const int fd = open(Control().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string line = command + "\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
  }
  std::string Control() const { return dir_ + "/control"; }
};

struct Recipe {
  std::array<int, 4> final_kg, coarse_kg, fine_kg;
};

TEST_F(Journal, ThreeBatchesAreReportedWithDeviationsVerdictsTotalsAndAPlot) {
  StartSlowSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  // Material 1 has no FINE: nothing is in flight and it lands exactly on target.
  const std::vector<Recipe> recipes = {{{20, 12, 10, 8}, {4, 3, 2, 2}, {0, 1, 1, 1}},
                                       {{30, 12, 10, 8}, {5, 3, 2, 2}, {0, 2, 1, 1}},
                                       {{25, 14, 10, 6}, {5, 4, 2, 2}, {0, 2, 1, 1}}};
  for (std::size_t b = 0; b < recipes.size(); ++b) {
    for (int m = 0; m < 4; ++m) {
      const std::string n = std::to_string(m + 1);
      Publish("tk571/devices/scale1/controls/f" + n + "/on",
              std::to_string(recipes[b].final_kg[m]));
      Publish("tk571/devices/scale1/controls/c" + n + "/on",
              std::to_string(recipes[b].coarse_kg[m]));
      Publish("tk571/devices/scale1/controls/i" + n + "/on", std::to_string(recipes[b].fine_kg[m]));
    }
    // The line sends the recipe, then the start.
    Publish("tk571/devices/scale1/controls/load/on", "1");
    Publish("tk571/devices/scale1/controls/run/on", "1");
    WaitForLog("scale1: batch finished", static_cast<int>(b) + 1);
  }

  const nlohmann::json batches = Report();
  ASSERT_EQ(batches.size(), 3u) << batches.dump(2);
  const double tolerance[] = {0.001, 0, 0.05};  // material 2: 1 % of its target
  std::map<int, double> sums;
  for (std::size_t b = 0; b < 3; ++b) {
    SCOPED_TRACE("batch " + std::to_string(b + 1));
    const nlohmann::json& batch = batches[b];
    EXPECT_EQ(batch["sequence"], b + 1);
    EXPECT_EQ(batch["origin"]["control"], "run");
    EXPECT_EQ(batch["origin"]["topic"], "tk571/devices/scale1/controls/run/on");
    ASSERT_EQ(batch["materials"].size(), 4u);
    for (int m = 0; m < 4; ++m) {
      const nlohmann::json& row = batch["materials"][m];
      const Recipe& r = recipes[b];
      EXPECT_EQ(row["target"], r.final_kg[m]);
      EXPECT_EQ(row["coarse"], r.coarse_kg[m]);
      EXPECT_EQ(row["fine"], r.fine_kg[m]);
      const double amount = row["amount"];
      sums[m + 1] += amount;
      // What lands after the feed closes is FINE give or take 10 %.
      EXPECT_NEAR(amount, r.final_kg[m], 0.1 * r.fine_kg[m] + 0.01);
      EXPECT_NEAR(row["deviation"].get<double>(), amount - r.final_kg[m], 1e-9);
      if (m == 3) {
        EXPECT_EQ(row["verdict"], "none");
        continue;
      }
      const double allowed = m == 1 ? 0.01 * r.final_kg[m] : tolerance[m];
      EXPECT_NEAR(row["tolerance"].get<double>(), allowed, 1e-9);
      EXPECT_EQ(row["verdict"], std::abs(amount - r.final_kg[m]) <= allowed + 1e-9 ? "in" : "out");
    }
    EXPECT_EQ(batches[b]["materials"][0]["deviation"], 0);
  }
  // CSV: a header and one line per material.
  const auto [csv_code, csv] = Command({"report"});
  EXPECT_EQ(csv_code, 0);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 13) << csv;

  const nlohmann::json totals = Report({"--totals", "shift"});
  std::map<int, double> totalled;
  std::map<int, int> counted;
  for (const nlohmann::json& row : totals) {
    totalled[row["material"].get<int>()] += row["amount"].get<double>();
    counted[row["material"].get<int>()] += row["batches"].get<int>();
  }
  for (int m = 1; m <= 4; ++m) {
    EXPECT_NEAR(totalled[m], sums[m], 0.005) << "material " << m;
    EXPECT_EQ(counted[m], 3);
  }

  // The plot of the last batch renders to a picture with a curve in it.
  const std::string svg = dir_ + "/batch.svg";
  const std::string png = dir_ + "/batch.png";
  EXPECT_EQ(
      Command({"report", "--batch", std::to_string(batches[2]["batch"].get<int>()), "--plot", svg})
          .first,
      0);
  Child render({TK571_RSVG_CONVERT, "-o", png, svg}, {}, dir_, true);
  ASSERT_EQ(render.Finish(), 0) << render.Output();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  EXPECT_EQ(image.width, 800u);
  EXPECT_EQ(image.height, 480u);
  // The curve's blue (#1f5fbf) in most columns of the plot area.
  std::set<png_uint_32> columns;
  for (png_uint_32 y = 0; y < image.height; ++y) {
    for (png_uint_32 x = 0; x < image.width; ++x) {
      const png_byte* p = &pixels[(y * image.width + x) * 3];
      if (std::abs(p[0] - 0x1f) < 24 && std::abs(p[1] - 0x5f) < 24 && std::abs(p[2] - 0xbf) < 24) {
        columns.insert(x);
      }
    }
  }
  EXPECT_GT(columns.size(), 400u) << "the curve covers " << columns.size() << " columns";

  const auto [verify_code, verify] = Command({"verify"});
  EXPECT_EQ(verify_code, 0) << verify;
  EXPECT_NE(verify.find("audit trail good: "), std::string::npos) << verify;
}

struct Tampering {
  const char* what;
  const char* sql;
  const char* named;
};

TEST_F(Journal, VerifyNamesTheFirstChangedOrRemovedAuditEntry) {
  StartSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  for (int m = 1; m <= 4; ++m) {
    const std::string n = std::to_string(m);
    Publish("tk571/devices/scale1/controls/f" + n + "/on", "1" + n);
    WaitForLog("write scale1/f" + n + " = 1" + n + ": not queued");
  }
  Publish("tk571/devices/scale1/controls/weight/on", "5");
  WaitForLog("write scale1/weight = \"5\": refused");
  kill(gateway_->Pid(), SIGTERM);
  ASSERT_EQ(gateway_->Finish(), 0);
  const auto [good_code, good] = Command({"verify"});
  ASSERT_EQ(good_code, 0) << good;
  const std::string db = dir_ + "/journal.db";
  const std::string original = ReadFile(db);
  const std::vector<Tampering> cases = {
      {"a value changed",
       "DROP TRIGGER audit_append_only; UPDATE audit SET after = '99' WHERE id = 3;",
       "audit trail broken: entry 3 was changed"},
      {"an entry removed", "DROP TRIGGER audit_prune_prefix; DELETE FROM audit WHERE id = 2;",
       "audit trail broken: entry 2 was removed"},
      {"the newest entry removed",
       "DROP TRIGGER audit_prune_prefix; DELETE FROM audit WHERE id = (SELECT max(id) FROM audit);",
       " was removed"},
      {"the refusal's reason changed",
       "DROP TRIGGER audit_append_only; UPDATE audit SET reason = '' WHERE outcome = 'refused';",
       " was changed"},
  };
  for (const Tampering& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(db, std::ios::binary | std::ios::trunc) << original;
    Child sqlite({TK571_SQLITE3, db, c.sql}, {}, dir_, true);
    ASSERT_EQ(sqlite.Finish(), 0) << sqlite.Output();
    const auto [code, output] = Command({"verify"});
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find(c.named), std::string::npos) << output;
  }
}

TEST_F(Journal, AGatewayKilledDuringBatchesNeitherLosesNorDoublesOne) {
  StartSlowSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  Child events({TK571_MOSQUITTO_SUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-q", "1",
                "-v", "-t", "tk571/devices/scale1/batch/events"},
               {}, dir_, false);
  std::mt19937 random(std::random_device{}());
  // The controller's batch takes a few seconds.
  std::uniform_int_distribution<int> delay_ms(0, 4000);
  for (int b = 1; b <= 3; ++b) {
    const int delay = delay_ms(random);
    SCOPED_TRACE("kill " + std::to_string(delay) + " ms after the start of batch " +
                 std::to_string(b));
    Publish("tk571/devices/scale1/controls/run/on", "1");
    WaitForLog("scale1/run = 1 (quality 0x0)");
    const std::size_t started = gateway_->Output().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(gateway_->Pid(), SIGKILL);
    gateway_->Finish();
    const bool seen =
        gateway_->Output().find("scale1: batch finished", started) != std::string::npos;
    StartJournalGateway();
    WaitForLog("scale1: link 1 (normal)");
    if (!seen) WaitForLog("scale1: batch finished");
  }
  ASSERT_TRUE(events.ReadUntil("batch/events", kEventLimit, 3)) << events.Output();
  const nlohmann::json batches = Report();
  ASSERT_EQ(batches.size(), 3u) << batches.dump(2);
  for (std::size_t b = 0; b < 3; ++b) {
    EXPECT_EQ(batches[b]["sequence"], b + 1);
    EXPECT_EQ(batches[b]["materials"].size(), 4u);
    EXPECT_NE(events.Output().find(R"("sequence":)" + std::to_string(b + 1) + ","),
              std::string::npos)
        << events.Output();
  }
  // One more look after a restart: nothing new, nothing again.
  kill(gateway_->Pid(), SIGKILL);
  gateway_->Finish();
  StartJournalGateway();
  std::this_thread::sleep_for(seconds(3));
  EXPECT_EQ(Report().size(), 3u);
  events.ReadUntil("batch/events", seconds(0), 4);
  EXPECT_EQ(std::count(events.Output().begin(), events.Output().end(), '\n'), 3) << events.Output();
}

TEST_F(Journal, BatchesOverABrokerOutageArriveOnceInOrder) {
  broker_settings_ += "persistence true\npersistence_location " + dir_ + "/\n";
  // mosquitto started as root saves its store as its own user.
  fs::permissions(dir_, fs::perms::all);
  broker_.reset();
  StartBroker();  // a second time: now with a store, for the waiting subscriber
  StartSimulator({"--control", Control()});
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  // A subscriber whose session the broker keeps across its restart.
  Child events({TK571_MOSQUITTO_SUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-q", "1",
                "-c", "-i", "journal-test", "-v", "-t", "tk571/devices/scale1/batch/events"},
               {}, dir_, false);
  std::this_thread::sleep_for(seconds(1));
  kill(broker_->Pid(), SIGTERM);
  broker_->Finish();
  WaitForLog("connection lost");
  for (int b = 1; b <= 3; ++b) {
    SendControl("start 1");  // the panel's Start key: no broker needed
    WaitForLog("scale1: batch finished", b);
  }
  StartBroker();
  ASSERT_TRUE(events.ReadUntil("batch/events", kEventLimit, 3)) << events.Output();
  const std::string& got = events.Output();
  std::size_t at = 0;
  for (int b = 1; b <= 3; ++b) {
    at = got.find(R"("sequence":)" + std::to_string(b) + ",", at);
    EXPECT_NE(at, std::string::npos) << "batch " << b << " in order in:\n" << got;
  }
  EXPECT_NE(got.find(R"("origin":{"client":"","control":"")"), std::string::npos) << got;
  kill(gateway_->Pid(), SIGHUP);
  WaitForLog("connected,", 3);
  std::this_thread::sleep_for(seconds(3));
  events.ReadUntil("batch/events", seconds(0), 4);
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 3) << got;
}

}  // namespace
}  // namespace tk571::gateway_test
