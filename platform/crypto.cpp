// OpenSSL-backed hashing, randomness and base64.

#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <stdexcept>

namespace korvel {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) std::abort();
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::update(const void* data, size_t size) {
  if (size) EVP_DigestUpdate(state_->context, data, size);
}

std::string Sha256::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest, &length);
  return std::string(reinterpret_cast<char*>(digest), length);
}

std::string sha256(std::string_view data) {
  Sha256 hasher;
  hasher.update(data);
  return hasher.finish();
}

std::string sha256Hex(std::string_view data) { return hexEncode(sha256(data)); }

std::string hexEncode(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string randomBytes(size_t count) {
  std::string out(count, '\0');
  // Without entropy nothing we generate (tokens, PKCE verifiers, names) is safe; stop.
  if (count && RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) std::abort();
  return out;
}

std::string uuidString() {
  std::string b = randomBytes(16);
  b[6] = static_cast<char>((b[6] & 0x0f) | 0x40);
  b[8] = static_cast<char>((b[8] & 0x3f) | 0x80);
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    const unsigned char c = static_cast<unsigned char>(b[i]);
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

bool isUuidString(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < 36; ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string base64UrlEncode(std::string_view bytes) {
  std::string out = base64Encode(bytes);
  while (!out.empty() && out.back() == '=') out.pop_back();
  for (char& c : out) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return out;
}

Result<std::string> base64Decode(std::string_view text) {
  const Error invalid = makeError(ErrorCode::InvalidInput, "The text is not valid base64.");
  if (text.size() % 4 != 0) return invalid;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    const bool padding = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text.back() == '=');
    if (!alphabet && !padding) return invalid;
  }
  std::string out(3 * (text.size() / 4), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return invalid;
  size_t length = static_cast<size_t>(n);
  if (!text.empty() && text.back() == '=') --length;
  if (text.size() >= 2 && text[text.size() - 2] == '=') --length;
  out.resize(length);
  return out;
}

}  // namespace korvel
