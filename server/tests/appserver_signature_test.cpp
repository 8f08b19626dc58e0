// jov-appserver's signatures: made with --signing-key, or pre-signed files served as they are.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "clientlib/archive_signature.h"
#include "server/sign/signing.h"
#include "tests/server/server_support.h"
#include "tests/signature/signature_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

class AppServerSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive = dir.Write("updates/JovTab.exe.ZIP", "PK\x03\x04 version one");
    const RunResult made = RunProgram({JovSign(), "keygen", key_file}, dir.path());
    ASSERT_EQ(made.code, 0) << made.errors;
    public_key = made.output.substr(std::string("PublicKey=").size());
  }

  std::unique_ptr<AppServer> Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--updates", dir.path() + "/updates"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto server = std::make_unique<AppServer>(args, dir.path() + "/appserver.log");
    EXPECT_NE(server->port(), 0) << TempDir::Read(dir.path() + "/appserver.log");
    return server;
  }

  // The status and body of GET /files/<name>; status 0 when there was no answer.
  std::pair<int, std::string> Get(int port, const std::string& name) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const auto response = client.Get("/files/" + name);
    return response ? std::pair{response->status, response->body} : std::pair{0, std::string()};
  }

  void SetTimes(const std::string& path, time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  TempDir dir;
  std::string key_file = dir.path() + "/chain.pem";
  std::string archive;
  std::string public_key;
};

TEST_F(AppServerSignatureTest, SignsEachArchiveOncePerVersion) {
  SetTimes(archive, 1700000000);
  auto server = Start({"--signing-key", key_file});
  const auto [status, first] = Get(server->port(), "JovTab.exe.ZIP.sig");
  ASSERT_EQ(status, 200) << first;
  EXPECT_NO_THROW(VerifyArchiveSignature(archive, first, public_key));

  // The same size and time: the server answers what it signed before, without reading again.
  dir.Write("updates/JovTab.exe.ZIP", "PK\x03\x04 version tw0");
  SetTimes(archive, 1700000000);
  EXPECT_EQ(Get(server->port(), "JovTab.exe.ZIP.sig").second, first);

  // A new version is signed anew.
  SetTimes(archive, 1700000100);
  const auto [again, second] = Get(server->port(), "JovTab.exe.ZIP.sig");
  ASSERT_EQ(again, 200);
  EXPECT_NE(second, first);
  EXPECT_NO_THROW(VerifyArchiveSignature(archive, second, public_key));

  dir.Write("updates/JovExp.exe.ZIP.sig", "a signature someone left");
  EXPECT_EQ(Get(server->port(), "Nada.exe.ZIP.sig").first, 404);
  // Not the signature of an archive's name: refused before any file is looked at.
  for (const std::string name : {".sig", "JovExp.exe.ZIP.sig.sig"}) {
    EXPECT_EQ(Get(server->port(), name).first, 403) << name;
  }
  EXPECT_EQ(Get(server->port(), "..%2Fchain.pem.sig").first, 403);

  // An archive too large to sign in memory (sparse: refused from its size alone).
  const std::string huge = dir.Write("updates/Huge.exe.ZIP", "");
  ASSERT_EQ(::truncate(huge.c_str(), (off_t{1} << 30) + 1), 0);
  const auto [refused, body] = Get(server->port(), "Huge.exe.ZIP.sig");
  EXPECT_EQ(refused, 500);
  EXPECT_EQ(body.find(dir.path()), std::string::npos) << "no server paths to the client";
}

TEST_F(AppServerSignatureTest, WithoutAKeyServesOnlyThePreSignedFiles) {
  sign::WriteSignatureFile(archive, sign::SigningKey::Load(key_file));
  dir.Write("updates/JovExp.exe.ZIP", "unsigned");
  auto server = Start();
  const auto [status, text] = Get(server->port(), "JovTab.exe.ZIP.sig");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(text, TempDir::Read(archive + ".sig"));
  EXPECT_EQ(Get(server->port(), "JovExp.exe.ZIP.sig").first, 404);

  // A signature lying beside its archive is not offered as an archive of its own.
  httplib::Client client("127.0.0.1", server->port());
  const auto reply = client.Post("/lum.rdmAtualizaEstrutura/GetFileVersion", "[\"&JovTab.exe\"]",
                                 "application/json");
  ASSERT_TRUE(reply);
  const std::string result = nlohmann::json::parse(reply->body)["result"];
  EXPECT_NE(result.find("\r\nJovTab.exe.ZIP="), std::string::npos) << result;
  EXPECT_EQ(result.find(".sig"), std::string::npos) << result;
}

TEST_F(AppServerSignatureTest, AnUnusableKeyStopsTheServerAtTheStart) {
  const std::string not_a_key = dir.Write("public.txt", "PublicKey=" + public_key);
  // A good key inside the folder it serves from would be served to anyone.
  const std::string served = dir.Write("updates/keys/chain.pem", TempDir::Read(key_file));
  for (const std::string& key : {not_a_key, dir.path() + "/missing.pem", served}) {
    const std::string log = dir.path() + "/refused.log";
    Process process({JOV_BIN_DIR "/jov-appserver", "--bind", "127.0.0.1", "--port", "0",
                     "--updates", dir.path() + "/updates", "--signing-key", key},
                    {}, log);
    EXPECT_EQ(process.Wait(30s), 1) << key;
    EXPECT_NE(TempDir::Read(log).find(key), std::string::npos) << TempDir::Read(log);
  }
}

}  // namespace
}  // namespace jov::testing
