#include "tls_files.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <memory>

namespace tk571::gateway {
namespace {

// The reason of OpenSSL's last error, e.g. "no certificate or crl found".
std::string OpenSslReason() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "not usable";
}

}  // namespace

std::string CheckTlsFiles(const TlsFiles& tls, const std::string& key_path) {
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                                  &SSL_CTX_free);
  if (!context) return "TLS: " + OpenSslReason();
  if (SSL_CTX_load_verify_locations(context.get(), tls.ca_file.c_str(), nullptr) != 1) {
    return "TLS CA file " + tls.ca_file + ": " + OpenSslReason();
  }
  if (tls.cert_file.empty()) return std::string();
  if (SSL_CTX_use_certificate_chain_file(context.get(), tls.cert_file.c_str()) != 1) {
    return "TLS certificate " + tls.cert_file + ": " + OpenSslReason();
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), key_path.c_str(), SSL_FILETYPE_PEM) != 1) {
    return "TLS key " + key_path + ": " + OpenSslReason();
  }
  if (SSL_CTX_check_private_key(context.get()) != 1) {
    return "TLS key " + key_path + " does not belong to the certificate " + tls.cert_file;
  }
  return std::string();
}

}  // namespace tk571::gateway
