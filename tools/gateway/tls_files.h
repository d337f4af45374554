// The broker's TLS settings opened and checked the way the connection will
// use them (OpenSSL): the CA file, the client certificate and its key, and
// that the key belongs to the certificate. `--check` and a reload run it
// before anything stops, so that a broken setting is found while the
// running gateway goes on.
#pragma once

#include <string>

#include "gateway_config.h"

namespace tk571::gateway {

// `key_path` is where the key is read (see SecretPath). Empty when good,
// else what is wrong, naming the file.
std::string CheckTlsFiles(const TlsFiles& tls, const std::string& key_path);

}  // namespace tk571::gateway
