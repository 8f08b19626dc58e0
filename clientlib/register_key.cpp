#include "clientlib/register_key.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <exception>

#include "platform/atomic_file.h"
#include "platform/base64.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "platform/system_text.h"

namespace jov {
namespace {

constexpr std::size_t kMaxKeyFileBytes = 16 * 1024;
constexpr std::size_t kMaxCounterFileBytes = 64;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// The Ed25519 private key of a PEM text; null when it holds none.
Pkey KeyOfPem(const std::string& pem) {
  const std::unique_ptr<BIO, BioFree> bio(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) return nullptr;
  return key;
}

// The PEM text of a private key; empty when it cannot be written.
std::string PemOf(EVP_PKEY* key) {
  const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

// The key file's text. Throws IoError when it cannot be read or is not a regular file (a FIFO
// or a device is not opened for reading, so nothing blocks on it).
std::string ReadKeyFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) throw IoError("Cannot read " + path + ": " + SystemErrorText(errno));
  const std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
    ::close(*f);
    delete f;
  });
  return ReadFdBytes(fd, kMaxKeyFileBytes, path);
}

// A new key written to path unless a file is there already; throws IoError when it cannot be.
void CreateKeyFile(const std::string& path, const std::string& pem) {
  PendingFile pending(TemporaryPrefix(path), path);
  pending.Write(pem);
  if (::fchmod(pending.fd(), 0600) != 0 || ::fsync(pending.fd()) != 0) {
    throw IoError("Cannot write " + path + ": " + SystemErrorText(errno));
  }
  // A link, not a rename: a key made meanwhile by another start stays, and is the one read.
  if (::link(pending.path().c_str(), path.c_str()) != 0 && errno != EEXIST) {
    throw IoError("Cannot write " + path + ": " + SystemErrorText(errno));
  }
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

struct RegisterKey::Key {
  Pkey pkey;
};

RegisterKey::RegisterKey(const std::string& working_dir)
    : working_dir_(working_dir.ends_with('/') ? working_dir : working_dir + "/") {}

void RegisterKey::Load() {
  if (loaded_) return;
  loaded_ = true;
  const std::string path = working_dir_ + "registro.key";
  try {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
      ::mkdir(working_dir_.c_str(), 0700);
      const Pkey made(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
      const std::string pem = made ? PemOf(made.get()) : std::string();
      if (pem.empty()) {
        problem_ = "no Ed25519 key could be made";
        return;
      }
      CreateKeyFile(path, pem);
    }
    Pkey key = KeyOfPem(ReadKeyFile(path));
    unsigned char raw[32];
    std::size_t size = sizeof raw;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), raw, &size) != 1 || size != sizeof raw) {
      problem_ = path + " holds no Ed25519 private key";
      return;
    }
    public_key_ = base64::Encode(std::string_view(reinterpret_cast<const char*>(raw), size));
    key_ = std::make_unique<Key>(Key{std::move(key)});
  } catch (const std::exception& error) {
    problem_ = error.what();
  }
}

RegisterKey::~RegisterKey() = default;

std::string RegisterKey::Problem() {
  const std::lock_guard<std::mutex> lock(mutex_);
  Load();
  return problem_;
}

std::string RegisterKey::PublicKey() {
  const std::lock_guard<std::mutex> lock(mutex_);
  Load();
  return public_key_;
}

std::optional<std::int64_t> RegisterKey::NextCounter() {
  const std::lock_guard<std::mutex> lock(mutex_);
  Load();
  if (!key_) return std::nullopt;
  const std::string counter_path = working_dir_ + "registro.contador";
  try {
    std::int64_t last = 0;
    struct stat st {};
    if (::lstat(counter_path.c_str(), &st) == 0 || errno != ENOENT) {
      std::string text = ReadFileBytes(counter_path, kMaxCounterFileBytes);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), last);
      if (text.empty() || error != std::errc() || end != text.data() + text.size() || last < 0 ||
          last == INT64_MAX) {
        problem_ = counter_path + " holds no counter";
        return std::nullopt;
      }
    }
    const std::int64_t next = last + 1;
    WriteFileAtomically(counter_path, std::to_string(next) + "\n", 0600);
    return next;
  } catch (const std::exception& error) {
    problem_ = error.what();
    return std::nullopt;
  }
}

std::optional<std::string> RegisterKey::Sign(std::string_view text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Load();
  if (!key_) return std::nullopt;
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_->pkey.get()) != 1) {
    return std::nullopt;
  }
  unsigned char signature[64];
  std::size_t size = sizeof signature;
  if (EVP_DigestSign(context.get(), signature, &size,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return std::nullopt;
  }
  return base64::Encode(std::string_view(reinterpret_cast<const char*>(signature), size));
}

}  // namespace jov
