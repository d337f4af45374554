#include "secrets.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tk571::gateway {
namespace {

void DropCr(std::string* line) {
  if (!line->empty() && line->back() == '\r') line->pop_back();
}

}  // namespace

std::string SecretPath(const std::string& name, std::string* error) {
  const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
  if (directory != nullptr && *directory != '\0' && name.find('/') == std::string::npos) {
    // systemd made the directory and its files for this service alone.
    return std::string(directory) + "/" + name;
  }
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    *error = "cannot open " + name + ": " + std::strerror(errno);
    return std::string();
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *error = name + " may be read by other users (mode " + std::to_string((info.st_mode >> 6) & 7) +
             std::to_string((info.st_mode >> 3) & 7) + std::to_string(info.st_mode & 7) +
             "); make it readable by its owner only (chmod 600) or give it through "
             "LoadCredential=";
    return std::string();
  }
  return name;
}

bool ReadCredentials(const std::string& name, Credentials* credentials, std::string* error) {
  const std::string path = SecretPath(name, error);
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in || !std::getline(in, credentials->user)) {
    *error = "cannot read a user name from " + path;
    return false;
  }
  DropCr(&credentials->user);
  std::getline(in, credentials->password);
  DropCr(&credentials->password);
  if (credentials->user.empty()) {
    *error = "cannot read a user name from " + path;
    return false;
  }
  return true;
}

}  // namespace tk571::gateway
