// The fuzz input as a stream of bytes, and a serial line whose answers come
// from such a stream: each receive takes a length byte n, then up to
// 1 + n % 24 bytes, so answers arrive in arbitrary pieces and then stop.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/serial_line.h"

namespace tk571::fuzz {

class FuzzBytes {
 public:
  FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Exhausted() const { return at_ >= size_; }
  // 0 once the input is used up.
  uint8_t Byte() { return Exhausted() ? 0 : data_[at_++]; }
  // Up to n bytes, fewer at the end of the input.
  std::string Take(size_t n) {
    const size_t end = std::min(size_, at_ + n);
    std::string bytes(reinterpret_cast<const char*>(data_ + at_), end - at_);
    at_ = end;
    return bytes;
  }
  // Eight bytes as the value field of a record or variant.
  double Double() {
    const std::string bytes = Take(sizeof(double)) + std::string(sizeof(double), '\0');
    double value;
    std::memcpy(&value, bytes.data(), sizeof(value));
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FuzzLine final : public SerialLine {
 public:
  explicit FuzzLine(FuzzBytes& bytes) : bytes_(bytes) {}
  bool Open(const TDevicePDB&, std::string& message) override {
    message = "Com1";
    return true;
  }
  void Close() override {}
  std::string LineKey() const override { return "fuzz"; }
  bool Send(const std::string&) override {
    buffer_.clear();
    return true;
  }
  const std::string& Receive() override {
    if (!bytes_.Exhausted()) {
      const size_t piece = 1 + bytes_.Byte() % 24;
      buffer_ += bytes_.Take(piece);
    }
    return buffer_;
  }
  void ClearBuffer() override { buffer_.clear(); }
  std::string Settle(uint32_t, bool, uint32_t) override {
    const std::size_t seen = buffer_.size();
    Receive();
    return buffer_.substr(seen);
  }
  bool Exhausted() const { return bytes_.Exhausted(); }

 private:
  FuzzBytes& bytes_;
  std::string buffer_;
};

}  // namespace tk571::fuzz
