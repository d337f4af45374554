// The program's control input: lines read on a thread of their own from stdin
// or a FIFO, each handed to a handler whose reply is passed on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tk571::sim {

class ControlInput {
 public:
  // The reply to one line (without its newline); empty lines and lines that
  // begin with '#' never reach it. An exception becomes the reply "error: "
  // and its text.
  using Handler = std::function<std::string(std::string_view line)>;
  using Replier = std::function<void(std::string_view reply)>;

  // "-" is stdin; reading ends at its end. Any other path is a FIFO, made when
  // there is nothing at the path (and removed again on destruction); it never
  // ends, so that one writer after the other may send commands. Throws
  // std::system_error when the path cannot be made or opened.
  ControlInput(const std::string& path, Handler handler, Replier replier);
  ~ControlInput();
  ControlInput(const ControlInput&) = delete;
  ControlInput& operator=(const ControlInput&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tk571::sim
