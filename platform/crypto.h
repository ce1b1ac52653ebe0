#pragma once
// SHA-256, secure random bytes, UUID strings and base64, all from OpenSSL's libcrypto.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace korvel {

// Incremental SHA-256 for streaming large files.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, size_t size);
  void update(std::string_view data) { update(data.data(), data.size()); }
  // 32 raw bytes; the hasher cannot be used afterwards.
  std::string finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string sha256(std::string_view data);     // 32 raw bytes
std::string sha256Hex(std::string_view data);  // 64 lowercase hexadecimal characters

std::string hexEncode(std::string_view bytes);  // lowercase
std::string randomBytes(size_t count);          // from the OS's secure generator
// A random (version 4) UUID, upper case, 8-4-4-4-12.
std::string uuidString();
bool isUuidString(std::string_view text);  // either case

std::string base64Encode(std::string_view bytes);
std::string base64UrlEncode(std::string_view bytes);  // no padding
Result<std::string> base64Decode(std::string_view text);

}  // namespace korvel
