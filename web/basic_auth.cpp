#include "web/basic_auth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace callsink {
namespace {

constexpr std::string_view kScheme = "Basic ";

// "user:password" from the header's base64; empty when it is not that.
std::optional<std::pair<std::string, std::string>> Credentials(const std::string& header) {
  if (!header.starts_with(kScheme)) return std::nullopt;
  std::string encoded = header.substr(kScheme.size());
  if (encoded.empty() || encoded.size() % 4 != 0 || encoded.size() > 4096) return std::nullopt;
  std::string decoded(encoded.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                     reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<int>(encoded.size()));
  if (length < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding's zero bytes too.
  size_t size = static_cast<size_t>(length);
  for (size_t i = encoded.size(); i > 0 && encoded[i - 1] == '='; --i) --size;
  decoded.resize(size);
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::make_pair(decoded.substr(0, colon), decoded.substr(colon + 1));
}

std::string Digest(const std::string& user, const std::string& password, const std::string& hash) {
  const std::string input = user + '\0' + password + '\0' + hash;
  std::string digest(SHA256_DIGEST_LENGTH, '\0');
  SHA256(reinterpret_cast<const unsigned char*>(input.data()), input.size(),
         reinterpret_cast<unsigned char*>(digest.data()));
  OPENSSL_cleanse(const_cast<char*>(input.data()), input.size());
  return digest;
}

bool BcryptMatches(const std::string& password, const std::string& hash) {
  // crypt_data is large (tens of kilobytes): not for a thread's stack.
  auto data = std::make_unique<crypt_data>();
  const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
  return computed != nullptr && std::strlen(computed) == hash.size() &&
         CRYPTO_memcmp(computed, hash.data(), hash.size()) == 0;
}

}  // namespace

BasicAuth::BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {}

bool BasicAuth::Allows(const std::string& authorization) {
  if (users_.empty()) return true;
  const auto credentials = Credentials(authorization);
  if (!credentials) return false;
  const auto user = users_.find(credentials->first);
  if (user == users_.end()) {
    // As slow as a wrong password, so that the time taken tells no one
    // which users exist.
    BcryptMatches(credentials->second, users_.begin()->second);
    return false;
  }
  const std::string digest = Digest(credentials->first, credentials->second, user->second);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (remembered_.contains(digest)) return true;
    ++hash_checks_;
  }
  if (!BcryptMatches(credentials->second, user->second)) return false;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (remembered_.size() >= kCacheLimit) remembered_.clear();
  remembered_.insert(digest);
  return true;
}

size_t BasicAuth::hash_checks() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return hash_checks_;
}

}  // namespace callsink
