// What a plant's security officer checks of tk571-gateway, against a real
// broker: TLS with client certificates and passwords (a CA the test makes
// with openssl), secrets others can read, and the shipped ACL example, where
// the broker keeps a panel's commands from ever reaching the line.
#include <sys/stat.h>

#include "gateway/gateway_fixture.h"

namespace tk571::gateway_test {
namespace {

constexpr const char* kPassword = "Pa55-w0rd-of-the-gateway";

void RunShell(const std::string& script, const std::string& dir) {
  Child shell({"/bin/sh", "-ec", script}, {}, dir, true);
  ASSERT_EQ(shell.Finish(), 0) << shell.Output();
}

// A secret file as the gateway wants it: readable by its owner alone.
void WriteSecret(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), 0600);
}

class GatewaySecurity : public Gateway {
 protected:
  // Broker users with their passwords, in the broker's password file.
  void MakeUsers(const std::vector<std::pair<std::string, std::string>>& users) {
    std::string script;
    for (const auto& [user, password] : users) {
      script += std::string(TK571_MOSQUITTO_PASSWD) + " -b " + (script.empty() ? "-c " : "") +
                "passwd " + user + " '" + password + "'\n";
    }
    RunShell(script, dir_);
  }

  // The broker on TLS with `require_certificate`: its certificate made out
  // to 127.0.0.1 by the test's CA, which signs the gateway's too; a foreign
  // CA beside it.
  void StartTlsBroker() {
    const std::string ssl = TK571_OPENSSL;
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    RunShell(ssl + " req -x509" + key + " -keyout ca.key -out ca.pem -subj /CN=test-ca -days 2\n" +
                 ssl + " req -x509" + key +
                 " -keyout foreign.key -out foreign.pem -subj /CN=foreign-ca -days 2\n" + ssl +
                 " req" + key + " -keyout server.key -out server.csr -subj /CN=broker\n" +
                 "echo subjectAltName=IP:127.0.0.1 >server.ext\n" + ssl +
                 " x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2" +
                 " -extfile server.ext -out server.pem\n" + ssl + " req" + key +
                 " -keyout client.key -out client.csr -subj /CN=tk571-gateway\n" + ssl +
                 " x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2" +
                 " -out client.pem\nchmod 600 client.key\n",
             dir_);
    MakeUsers({{"tk571-gateway", kPassword}});
    broker_settings_ = "cafile " + dir_ + "/ca.pem\ncertfile " + dir_ + "/server.pem\nkeyfile " +
                       dir_ + "/server.key\nrequire_certificate true\nallow_anonymous false\n" +
                       "password_file " + dir_ + "/passwd\n";
    broker_.reset();
    StartBroker();
  }

  std::string TlsConfig(const std::string& host, const std::string& ca) const {
    std::string config = Config();
    const std::string plain = "mqtt://127.0.0.1:";
    config.replace(config.find(plain), plain.size(), "mqtts://" + host + ":");
    const std::string anchor = R"("reconnect_max_s": 2)";
    config.replace(config.find(anchor), anchor.size(),
                   anchor + R"(, "credentials_file": "mqtt.cred", "tls": {"ca_file": ")" + dir_ +
                       "/" + ca + R"(", "cert_file": ")" + dir_ + R"(/client.pem", "key_file": ")" +
                       dir_ + R"(/client.key"})");
    return config;
  }
};

struct TlsCase {
  const char* what;
  const char* host;
  const char* ca;
  std::string credentials;
  const char* logged;
};

TEST_F(GatewaySecurity, TlsConnectsOnlyWithTheRightCaNameAndPassword) {
  StartTlsBroker();
  const std::string login = std::string("tk571-gateway\r\n") + kPassword + "\r\n";
  const std::vector<TlsCase> cases = {
      // Written on Windows: the CR is no part of the password.
      {"good", "127.0.0.1", "ca.pem", login, "connected,"},
      {"foreign CA", "127.0.0.1", "foreign.pem", login,
       "certificate verify failed): the broker's certificate is not signed by"},
      {"name mismatch", "localhost", "ca.pem", login, "or not made out to localhost"},
      {"wrong password", "127.0.0.1", "ca.pem", "tk571-gateway\nwrong-Pa55\n",
       "refused the connection: Connection Refused: not authorised."},
  };
  for (const TlsCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSecret(dir_ + "/mqtt.cred", c.credentials);
    StartGateway(TlsConfig(c.host, c.ca), c.logged);
    EXPECT_EQ(gateway_->Output().find(kPassword), std::string::npos);
    EXPECT_EQ(gateway_->Output().find("Pa55"), std::string::npos);
    gateway_.reset();
  }
}

struct SecretCase {
  const char* what;
  const char* script;  // run in the test's folder on good files before the check
  const char* expected;
};

TEST_F(GatewaySecurity, CheckOpensEverySecretAndTlsFileAndNeverShowsThePassword) {
  StartTlsBroker();
  WriteSecret(dir_ + "/mqtt.cred", std::string("tk571-gateway\n") + kPassword + "\n");
  std::ofstream(dir_ + "/gateway.json") << TlsConfig("127.0.0.1", "ca.pem");
  RunShell("mkdir good && cp client.key client.pem mqtt.cred good/", dir_);
  const std::vector<SecretCase> cases = {
      {"good", "true", "configuration is good"},
      {"key others can read", "chmod 644 client.key",
       "client.key may be read by other users (mode 644)"},
      {"password others can read", "chmod 640 mqtt.cred", "mqtt.cred may be read by other users"},
      {"a certificate that is no certificate", "echo x >client.pem", "/broker: TLS certificate "},
      {"a key of another certificate", "cp foreign.key client.key",
       "/client.key does not belong to the certificate"},
  };
  for (const SecretCase& c : cases) {
    SCOPED_TRACE(c.what);
    RunShell("cp -p good/* . && " + std::string(c.script), dir_);
    Child check({TK571_GATEWAY_PROGRAM, "--config", "gateway.json", "--check"}, {}, dir_, true);
    EXPECT_EQ(check.Finish(), std::string(c.what) == "good" ? 0 : 2) << check.Output();
    EXPECT_NE(check.Output().find(c.expected), std::string::npos) << check.Output();
    EXPECT_EQ(check.Output().find(kPassword), std::string::npos);
  }
  // Under systemd the secrets come from the credentials directory, whatever
  // the mode of the files the configuration would name.
  RunShell(
      "mkdir creds && cp ca.key creds/client.key && cp mqtt.cred creds/ && chmod 644 mqtt.cred",
      dir_);
  std::string config = TlsConfig("127.0.0.1", "ca.pem");
  config.replace(config.find(dir_ + "/client.key"), dir_.size() + 11, "client.key");
  std::ofstream(dir_ + "/gateway.json") << config;
  RunShell(std::string(TK571_OPENSSL) +
               " req -x509 -key creds/client.key -out client.pem -subj /CN=gw -days 1",
           dir_);
  Child check({TK571_GATEWAY_PROGRAM, "--config", "gateway.json", "--check"},
              {"CREDENTIALS_DIRECTORY=" + dir_ + "/creds"}, dir_, true);
  EXPECT_EQ(check.Finish(), 0) << check.Output();
}

TEST_F(GatewaySecurity, TheAclExampleKeepsThePanelsCommandsOffTheLine) {
  const std::vector<std::pair<std::string, std::string>> users = {{"tk571-gateway", kPassword},
                                                                  {"operator", "op-pw"},
                                                                  {"panel", "panel-pw"},
                                                                  {"historian", "hist-pw"}};
  MakeUsers(users);
  broker_settings_ = "allow_anonymous false\npassword_file " + dir_ + "/passwd\nacl_file " +
                     TK571_GATEWAY_EXAMPLES "/mosquitto.acl\n";
  broker_.reset();
  StartBroker();
  reader_login_ = {"-u", "historian", "-P", "hist-pw"};
  WriteSecret(dir_ + "/mqtt.cred", std::string("tk571-gateway\n") + kPassword + "\n");

  // The shipped configuration, on the simulator's line and this broker.
  std::string config = ReadFile(TK571_GATEWAY_EXAMPLES "/gateway.json");
  const auto replace = [&](const std::string& from, const std::string& to) {
    ASSERT_NE(config.find(from), std::string::npos) << from;
    config.replace(config.find(from), from.size(), to);
  };
  replace("{\n", R"({"library": ")" TK571_DRIVER_LIBRARY "\",\n");
  replace("mqtt://127.0.0.1:1883", "mqtt://127.0.0.1:" + std::to_string(port_));
  replace(R"("Com1")", "\"" + Tty() + "\"");
  replace(R"("baud": 9600)", R"("baud": 115200)");
  replace(R"("data_bits": 7)", R"("data_bits": 8)");
  replace(R"("parity": "even")", R"("parity": "none")");
  StartSimulator();
  StartGateway(config);
  WaitForLog("scale1: link 1 (normal)");

  const std::string panel = "-u panel -P panel-pw";
  Publish("tk571/devices/scale1/controls/run/on", "1", false, panel);
  // The recipe: FINAL > COARSE > FINE for every material, or nothing is sent.
  for (int m = 1; m <= 4; ++m) {
    const std::string n = std::to_string(m);
    Publish("tk571/devices/scale1/controls/target_" + n + "/on", "123" + n, false, panel);
    Publish("tk571/devices/scale1/controls/coarse_" + n + "/on", "100" + n, false, panel);
    Publish("tk571/devices/scale1/controls/fine_" + n + "/on", "5" + n, false, panel);
  }
  Publish("tk571/devices/scale1/controls/run/on", "1", false, "-u historian -P hist-pw");
  WaitForLog("write scale1/fine_4 = 54: not queued");
  Publish("tk571/devices/scale1/controls/load_recipe/on", "1", false, "-u operator -P op-pw");
  WaitForLog("write scale1/load_recipe = 1: queued");
  // "SET", then the panel's target for material 1: "1231" CR LF.
  EXPECT_TRUE(TraceShows(">> 31 32 33 31 0D 0A")) << ReadFile(Trace());
  EXPECT_NE(ReadFile(Trace()).find(">> 53 45 54 0D 0A"), std::string::npos);
  EXPECT_EQ(ReadFile(Trace()).find(">> 53 54 0D 0A"), std::string::npos);
  EXPECT_EQ(gateway_->Output().find("scale1/run ="), std::string::npos) << gateway_->Output();
  // The historian reads what the gateway publishes.
  const std::string weight = "tk571/devices/scale1/controls/weight ";
  EXPECT_NE(RetainedWith({weight}).find(weight), std::string::npos);
}

}  // namespace
}  // namespace tk571::gateway_test
