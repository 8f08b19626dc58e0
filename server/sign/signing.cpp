#include "server/sign/signing.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/base64.h"
#include "platform/file_bytes.h"
#include "platform/file_text.h"
#include "platform/hex.h"
#include "protocol/file_names.h"
#include "server/sign/delta.h"

namespace jov::sign {
namespace {

constexpr std::size_t kMaxKeyFileBytes = 64 * 1024;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Refuses every pass phrase request: an encrypted key fails instead of waiting on a terminal.
int NoPassphrase(char*, int, int, void*) { return 0; }

// Writes all the bytes; false with errno set when a write fails.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes, flushes and closes fd; on failure removes path and throws IoError.
void FinishFile(int fd, const std::string& path, std::string_view bytes) {
  if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    throw IoError("Cannot write " + path + ": " + why);
  }
  if (::close(fd) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(path.c_str());
    throw IoError("Cannot write " + path + ": " + why);
  }
}

struct ZipSourceFree {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// The bytes of the archive's one entry; nothing when it holds another number of files.
// Throws Error naming the archive when it is no zip archive or its entry is unreadable.
std::optional<std::string> SingleEntry(const std::string& bytes, const std::string& name) {
  zip_error_t error;
  zip_error_init(&error);
  std::unique_ptr<zip_source_t, ZipSourceFree> source(
      zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error));
  if (!source) throw Error("Cannot read " + name + ": " + zip_error_strerror(&error));
  std::unique_ptr<zip_t, ZipDiscard> archive(
      zip_open_from_source(source.get(), ZIP_RDONLY, &error));
  if (!archive) {
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw Error("Cannot read " + name + ": it is no zip archive (" + why + ")");
  }
  source.release();  // the archive owns it now
  zip_error_fini(&error);
  if (zip_get_num_entries(archive.get(), 0) != 1) return std::nullopt;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive.get(), 0, 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
      st.size > kMaxArchiveBytes) {
    throw Error("Cannot read " + name + ": its entry has no size or is too large");
  }
  const std::unique_ptr<zip_file_t, ZipFileClose> entry(zip_fopen_index(archive.get(), 0, 0));
  if (!entry) throw Error("Cannot read " + name + ": its entry cannot be opened");
  std::string content(static_cast<std::size_t>(st.size), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const zip_int64_t n = zip_fread(entry.get(), content.data() + done, content.size() - done);
    if (n <= 0) throw Error("Cannot read " + name + ": its entry is damaged");
    done += static_cast<std::size_t>(n);
  }
  // The CRC is checked when the whole entry has been read, at the next read past its end.
  char extra = 0;
  if (zip_fread(entry.get(), &extra, 1) != 0) {
    throw Error("Cannot read " + name + ": its entry is damaged");
  }
  return content;
}

// The release of the archive at path, and the bytes of its program when it holds one.
std::pair<jov::protocol::Release, std::optional<std::string>> ReleaseAndProgram(
    const std::string& archive_path, std::int64_t version, std::int64_t expires) {
  const std::string bytes = ReadFileBytes(archive_path, kMaxArchiveBytes);
  const std::size_t slash = archive_path.rfind('/');
  const std::string name =
      slash == std::string::npos ? archive_path : archive_path.substr(slash + 1);
  jov::protocol::Release release;
  release.file = jov::protocol::LocalFileNameOf(name);
  if (release.file.empty() || !jov::protocol::IsArchiveName(name)) {
    throw Error("Cannot publish " + archive_path + ": its name is not <program>.zip");
  }
  release.version = version;
  release.size = static_cast<std::int64_t>(bytes.size());
  release.sha256 = Sha256Hex(bytes);
  release.expires = expires;
  std::optional<std::string> program = SingleEntry(bytes, archive_path);
  if (program) {
    release.program = jov::protocol::ReleasedProgram{static_cast<std::int64_t>(program->size()),
                                                     Sha256Hex(*program)};
  }
  return {std::move(release), std::move(program)};
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw Error("Cannot compute a SHA-256");
  }
  return jov::LowerHex(digest, length);
}

jov::protocol::Release ReleaseOf(const std::string& archive_path, std::int64_t version,
                                 std::int64_t expires) {
  return ReleaseAndProgram(archive_path, version, expires).first;
}

jov::protocol::Release SignRelease(const std::string& archive_path, std::int64_t version,
                                   std::int64_t expires, const SigningKey& key,
                                   const std::vector<std::string>& earlier_programs) {
  auto [release, program] = ReleaseAndProgram(archive_path, version, expires);
  if (!earlier_programs.empty() && !program) {
    throw Error("Cannot make a delta to " + archive_path +
                ": the archive does not hold exactly one program file");
  }
  const std::size_t slash = archive_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : archive_path.substr(0, slash + 1);
  // The patches lie beside the archive before any statement names them.
  for (const std::string& earlier : earlier_programs) {
    const std::string from = Sha256Hex(earlier);
    if (std::any_of(release.deltas.begin(), release.deltas.end(),
                    [&](const jov::protocol::ReleaseDelta& d) { return d.from == from; })) {
      continue;
    }
    const std::string file = jov::protocol::DeltaNameOf(release.file, from);
    const std::string delta = MakeDeltaBytes(earlier, *program);
    WriteFileAtomically(folder + file, delta, 0644);
    release.deltas.push_back({from, file, static_cast<std::int64_t>(delta.size())});
  }
  const std::string text = jov::protocol::WriteRelease(release);
  WriteSignatureFile(archive_path, key);
  // The statement's signature first: a register that reads the new statement finds its
  // signature already there (a moment's mismatch the other way is only a refused start).
  WriteFileAtomically(archive_path + ".release.sig", key.SignatureBase64(text) + "\n", 0644);
  WriteFileAtomically(archive_path + ".release", text, 0644);
  return release;
}

void SigningKey::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

SigningKey SigningKey::Generate() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  if (key == nullptr) throw Error("Cannot make an Ed25519 key");
  return SigningKey(key);
}

SigningKey SigningKey::Load(const std::string& path) {
  const FileText file = ReadFileText(path, kMaxKeyFileBytes);
  if (file.error != 0) throw IoError("Cannot read " + path + ": " + std::strerror(file.error));
  if (file.too_large) throw Error("Cannot use " + path + ": it is too large for a key file");
  const std::unique_ptr<BIO, BioFree> bio(
      BIO_new_mem_buf(file.text.data(), static_cast<int>(file.text.size())));
  EVP_PKEY* key =
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr;
  if (key == nullptr) {
    throw Error("Cannot use " + path + ": it holds no unencrypted PEM private key");
  }
  SigningKey result(key);
  if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    throw Error("Cannot use " + path + ": the key is not an Ed25519 key");
  }
  return result;
}

std::string SigningKey::PrivatePem() const {
  const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    throw Error("Cannot write the private key as PEM");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string SigningKey::PublicKeyBase64() const {
  unsigned char raw[32];
  std::size_t size = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key_.get(), raw, &size) != 1 || size != sizeof raw) {
    throw Error("Cannot take the public key out of the private key");
  }
  return base64::Encode(std::string_view(reinterpret_cast<const char*>(raw), size));
}

std::string SigningKey::SignatureBase64(std::string_view bytes) const {
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
  unsigned char signature[64];
  std::size_t size = sizeof signature;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), signature, &size,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1 ||
      size != sizeof signature) {
    throw Error("Cannot make an Ed25519 signature");
  }
  return base64::Encode(std::string_view(reinterpret_cast<const char*>(signature), size));
}

std::string SigningKey::SignFile(const std::string& path) const {
  return SignatureBase64(ReadFileBytes(path, kMaxArchiveBytes));
}

void WriteNewKeyFile(const std::string& path, const SigningKey& key) {
  const std::string pem = key.PrivatePem();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    const std::string why = errno == EEXIST ? "the file exists already" : std::strerror(errno);
    throw IoError("Cannot create " + path + ": " + why);
  }
  FinishFile(fd, path, pem);
}

std::string WriteSignatureFile(const std::string& archive_path, const SigningKey& key) {
  const std::string text = key.SignFile(archive_path) + "\n";
  const std::string target = archive_path + ".sig";
  // A hidden name: a folder listing that offers archives by name never shows a half-written one.
  const std::size_t slash = archive_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : archive_path.substr(0, slash + 1);
  const std::string base =
      slash == std::string::npos ? archive_path : archive_path.substr(slash + 1);
  PendingFile file(folder + "." + base + ".sig.", target);
  file.Write(text);
  // A signature is public, and web servers must read it.
  file.Commit(target, 0644);
  return target;
}

}  // namespace jov::sign
