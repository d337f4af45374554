// The gateway's secrets: the broker credentials and the client key. Under
// systemd they come from $CREDENTIALS_DIRECTORY (LoadCredential=), where a
// name without a slash is looked up; any other file must be readable by its
// owner alone, so that a key or password other users can read is refused
// rather than used.
#pragma once

#include <string>

namespace tk571::gateway {

// The file a secret's configured name stands for, or empty with `error` set
// when it is missing or others may read it.
std::string SecretPath(const std::string& name, std::string* error);

struct Credentials {
  std::string user;
  std::string password;
};

// User name on the first line, password on the second; a CR before a line
// end (a file written on Windows) is not part of them. False with `error`
// (which never holds the password).
bool ReadCredentials(const std::string& name, Credentials* credentials, std::string* error);

}  // namespace tk571::gateway
