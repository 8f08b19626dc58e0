// The server's handlers called directly, without a socket: the range rule, the call bodies,
// the routes, the downloads and the fleet token.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/cp1252.h"
#include "server/fleet/form_token.h"
#include "server/handlers/app_server.h"
#include "server/handlers/files.h"
#include "server/startup.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using appserver::ByteRange;
using appserver::http::Request;
using appserver::http::Response;

TEST(RangeTest, AnswersEveryRangeWithinTheFile) {
  struct Case {
    std::string header;
    int status;
    std::uint64_t offset, length;
    std::string content_range;
  };
  const std::uint64_t size = 1000;
  const std::vector<Case> cases = {
      {"", 200, 0, 1000, ""},
      {"bytes=0-2", 206, 0, 3, "bytes 0-2/1000"},
      {"bytes=990-", 206, 990, 10, "bytes 990-999/1000"},
      {"bytes=999-999", 206, 999, 1, "bytes 999-999/1000"},
      {"bytes=900-5000", 206, 900, 100, "bytes 900-999/1000"},  // cut at the end
      {"bytes=-10", 206, 990, 10, "bytes 990-999/1000"},
      {"bytes=-5000", 206, 0, 1000, "bytes 0-999/1000"},
      {"bytes=1000-", 416, 0, 0, "bytes */1000"},  // at the end: nothing to send
      {"bytes=2000000-", 416, 0, 0, "bytes */1000"},
      {"bytes=-0", 416, 0, 0, "bytes */1000"},
      {"bytes=0-0,2-2", 416, 0, 0, "bytes */1000"},
      {"bytes=5-2", 200, 0, 1000, ""},  // not a range: the whole file
      {"bytes=x-", 200, 0, 1000, ""},
      {"items=0-2", 200, 0, 1000, ""},
      {"bytes=99999999999999999999-", 200, 0, 1000, ""},
  };
  for (const Case& c : cases) {
    const ByteRange range = appserver::RangeOf(c.header, size);
    EXPECT_EQ(range.status, c.status) << c.header;
    EXPECT_EQ(range.offset, c.offset) << c.header;
    EXPECT_EQ(range.length, c.length) << c.header;
    EXPECT_EQ(range.content_range, c.content_range) << c.header;
  }
  EXPECT_EQ(appserver::RangeOf("bytes=0-", 0).status, 416) << "an empty file has no byte";
}

// A form token that outlives its hours, comes from the future, was made with another fleet token
// or had its time changed would let a stale or forged page act.
TEST(FormTokenTest, TakesOnlyTheFleetsOwnTokensOfTheLastHours) {
  using appserver::fleet::FormTokenValid;
  using appserver::fleet::IssueFormToken;
  constexpr std::int64_t kNow = 1'800'000'000;
  const std::string token = IssueFormToken("fleet-token-0123456789", kNow);
  EXPECT_TRUE(FormTokenValid("fleet-token-0123456789", token, kNow + 3600));
  const std::string changed = std::to_string(kNow + 1) + token.substr(token.find('.'));
  const struct {
    std::string fleet_token, form_token;
    std::int64_t now;
  } refused[] = {
      {"fleet-token-0123456789", token, kNow + appserver::fleet::kFormTokenSeconds},
      {"fleet-token-0123456789", token, kNow - 61},
      {"another-token-0123456789", token, kNow},
      {"fleet-token-0123456789", changed, kNow + 1},
      {"fleet-token-0123456789", token.substr(0, token.size() - 1), kNow},
      {"", IssueFormToken("", kNow), kNow},
  };
  for (const auto& row : refused) {
    EXPECT_FALSE(FormTokenValid(row.fleet_token, row.form_token, row.now)) << row.form_token;
  }
}

TEST(CallArgumentsTest, TakesOnlyAnArrayOfTexts) {
  EXPECT_EQ(appserver::CallArguments(R"(["&JovTab.exe", "a\u00e7\u00e3o"])"),
            (std::vector<std::string>{"&JovTab.exe", "ação"_w}));
  EXPECT_EQ(appserver::CallArguments("[]"), std::vector<std::string>{});
  for (const std::string body :
       {"", "{\"a\": 1}", "[1]", "[[\"a\"]]", "\"a\"", "[\"a\"", "[null]"}) {
    EXPECT_EQ(appserver::CallArguments(body), std::nullopt) << body;
  }
}

TEST(CallArgumentsTest, ADeepBodyIsRefusedAtItsSecondByte) {
  // Read whole, 1 MiB of "[" would build a million nested arrays.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(appserver::CallArguments(std::string(1u << 20, '[')), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

class HandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("updates/JovTab.exe.zip", "0123456789");
    dir.Write("segredo.txt", "secret");
    std::filesystem::create_symlink(dir.path() + "/segredo.txt", updates + "/JovSinc.exe.zip");
    options.updates = updates;
  }
  Response Get(const std::string& path, appserver::http::Headers headers = {}) {
    Request request;
    request.method = "GET";
    request.path = path;
    const std::size_t question = path.find('?');
    if (question != std::string::npos) {
      request.path = path.substr(0, question);
      request.query = path.substr(question + 1);
    }
    request.headers = std::move(headers);
    return appserver::MakeRouter(appserver::MakeContext(options, 8211, log)).Route(request);
  }

  TempDir dir;
  std::string updates = dir.path() + "/updates";
  appserver::Options options;
  appserver::http::LineLog log;
};

TEST_F(HandlersTest, AnswersTheVersionQueryWithTheSourceOfTheBoundAddress) {
  Request request;
  request.method = "POST";
  request.path = "/lum.rdmAtualizaEstrutura/GetFileVersion";
  request.body = R"(["&jovtab.EXE"])";
  request.headers = {{"Host", "caixa.loja:8211"}};
  const auto router = appserver::MakeRouter(appserver::MakeContext(options, 8211, log));
  Response reply = router.Route(request);
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find(R"(http://127.0.0.1:8211/files/@)"), std::string::npos) << reply.body;
  options.bind = "0.0.0.0";  // any address: the one the register called
  reply = appserver::MakeRouter(appserver::MakeContext(options, 8211, log)).Route(request);
  EXPECT_NE(reply.body.find(R"(http://caixa.loja:8211/files/@)"), std::string::npos);
  request.path = "/lum.rdmAtualizaEstrutura/ApagaTudo";
  EXPECT_EQ(router.Route(request).status, 404);
  request.body = "[[";
  EXPECT_EQ(router.Route(request).status, 400);
  request.method = "GET";
  EXPECT_EQ(router.Route(request).status, 404) << "calls are POSTs";
}

TEST_F(HandlersTest, ServesTheArchivesFromOneDescriptorAndNothingElse) {
  Response good = Get("/files/JovTab.exe.zip", {{"Range", "bytes=-4"}});
  EXPECT_EQ(good.status, 206);
  ASSERT_TRUE(good.file);
  EXPECT_EQ(good.file->offset, 6u);
  EXPECT_EQ(good.file->length, 4u);
  EXPECT_EQ(good.file->opened.st_size, 10);
  // What is refused, and why, over a socket: ServesTheArchivesAndNothingOutsideTheirFolder.
  const Response link = Get("/files/JovSinc.exe.zip");
  EXPECT_EQ(link.status, 404);
  EXPECT_FALSE(link.file);
  const Response past = Get("/files/JovTab.exe.zip", {{"Range", "bytes=10-"}});
  EXPECT_EQ(past.status, 416);
  EXPECT_FALSE(past.file);
}

// A shop's cache keeps the files and asks again with their validators: a wrong 304 would keep
// an old archive in every register of the shop, a missing one fetch it whole every five minutes,
// and a range given of a file replaced meanwhile would join two versions.
TEST_F(HandlersTest, FilesCarryTheirValidatorsAndOnlyAnUnchangedOneIs304) {
  struct stat st {};
  ASSERT_EQ(::stat((updates + "/JovTab.exe.zip").c_str(), &st), 0);
  const Response whole = Get("/files/JovTab.exe.zip");
  const std::string tag = whole.Header("ETag");
  const std::string modified = whole.Header("Last-Modified");
  EXPECT_EQ(whole.Header("Cache-Control"), "public, max-age=300");
  EXPECT_EQ(tag.front(), '"') << "a strong tag: " << tag;
  EXPECT_EQ(appserver::http::ParseHttpDate(modified), std::optional<std::int64_t>(st.st_mtime));
  const struct {
    const char* label;
    appserver::http::Headers headers;
    int status;
  } cases[] = {
      {"the same tag", {{"If-None-Match", tag}}, 304},
      {"a list naming it weakly", {{"If-None-Match", "\"x\", W/" + tag}}, 304},
      {"any tag", {{"If-None-Match", "*"}}, 304},
      {"another tag", {{"If-None-Match", "\"0-0-0-0\""}}, 200},
      {"the tag before the date",
       {{"If-None-Match", "\"x\""}, {"If-Modified-Since", modified}},
       200},
      {"not modified since", {{"If-Modified-Since", modified}}, 304},
      {"modified since", {{"If-Modified-Since", appserver::http::HttpDate(st.st_mtime - 1)}}, 200},
      {"not a date", {{"If-Modified-Since", "yesterday"}}, 200},
      {"a range of this file", {{"Range", "bytes=-4"}, {"If-Range", tag}}, 206},
      {"a range of this date", {{"Range", "bytes=-4"}, {"If-Range", modified}}, 206},
      {"a range of another file", {{"Range", "bytes=-4"}, {"If-Range", "\"old\""}}, 200},
  };
  for (const auto& c : cases) {
    const Response answer = Get("/files/JovTab.exe.zip", c.headers);
    EXPECT_EQ(answer.status, c.status) << c.label;
    EXPECT_EQ(answer.file.has_value(), c.status != 304) << c.label;
    EXPECT_EQ(answer.Header("ETag"), tag) << c.label;
  }
  // Renamed over by a file of the same size within the same second: another tag, and another
  // address in the version reply, so that a cache still keeping the old file for its five
  // minutes is never asked for it.
  const std::string before = appserver::UpdatesGeneration(updates);
  dir.Write("updates/new.tmp", "9876543210");
  std::filesystem::rename(updates + "/new.tmp", updates + "/JovTab.exe.zip");
  EXPECT_EQ(Get("/files/JovTab.exe.zip", {{"If-None-Match", tag}}).status, 200);
  const std::string after = appserver::UpdatesGeneration(updates);
  EXPECT_NE(after, before);
  // Any generation serves today's file; a malformed one nothing.
  for (const std::string& generation : {before, after}) {
    const Response answer = Get("/files/@" + generation + "/JovTab.exe.zip");
    EXPECT_EQ(answer.status, 200) << generation;
    ASSERT_TRUE(answer.file);
    EXPECT_EQ(answer.file->opened.st_size, 10);
  }
  for (const char* refused : {"/files/@/JovTab.exe.zip", "/files/@x!/JovTab.exe.zip",
                              "/files/@00/../segredo.txt", "/files/@00"}) {
    EXPECT_EQ(Get(refused).status, 403) << refused;
  }

  // A rollout's file is the asking register's alone; a call is nobody's to keep.
  dir.Write("updates/candidatos/JovTab.exe.zip", "candidate");
  Request candidate;
  candidate.method = "GET";
  candidate.tail = "JovTab.exe.zip";
  const Response offered =
      appserver::ServeFile(*appserver::MakeContext(options, 8211, log), candidate, "candidatos");
  EXPECT_EQ(offered.status, 200);
  EXPECT_EQ(offered.Header("Cache-Control"), "private, max-age=300");
  Request call;
  call.method = "POST";
  call.path = "/lum.rdmAtualizaEstrutura/GetFileVersion";
  call.body = R"(["&JovTab.exe"])";
  EXPECT_EQ(appserver::MakeRouter(appserver::MakeContext(options, 8211, log))
                .Route(call)
                .Header("Cache-Control"),
            "no-store");
  EXPECT_EQ(Get("/lum.rdmAtualizaEstrutura/").Header("Cache-Control"), "no-store");
}

// The dates are English whatever the locale, and only real dates of the one form are read.
TEST(HttpDateTest, WritesAndReadsOnlyTheOneForm) {
  EXPECT_EQ(appserver::http::HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Thu, 10 Dec 2026 06:00:00 GMT", 1796882400},
      {"Mon, 06 Nov 1994 08:49:37 GMT", std::nullopt},  // a Sunday
      {"Sat, 30 Feb 2026 00:00:00 GMT", std::nullopt},
      {"Sunday, 06-Nov-94 08:49:37 GMT", std::nullopt},
      {"Sun Nov  6 08:49:37 1994", std::nullopt},
      {"Sun, 06 nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(appserver::http::ParseHttpDate(c.text), c.seconds) << c.text;
  }
}

TEST_F(HandlersTest, TheFleetOpensOnlyToItsToken) {
  options.fleet_token = "s3gredo";
  for (const auto& [path, headers, status] :
       std::vector<std::tuple<std::string, appserver::http::Headers, int>>{
           {"/fleet", {}, 403},
           {"/fleet?token=s3gred", {}, 403},
           {"/fleet.json?token=s3gredoo", {}, 403},
           {"/fleet", {{"Authorization", "Bearer s3gredx"}}, 403},
           {"/fleet?token=s3gredo", {}, 503},  // the token opens it; no fleet is kept here
           {"/fleet.json?token=s3%67redo", {}, 503},
           {"/fleet.json", {{"authorization", "bearer s3gredo"}}, 503}}) {
    EXPECT_EQ(Get(path, headers).status, status) << path;
  }
  options.fleet_token.clear();
  EXPECT_EQ(Get("/fleet?token=").status, 403) << "no token set: closed to all";
}

// The fleet token opens the registers' reports to whoever holds it: a file others may read,
// or a token short enough to guess, is refused at the start, with the reason.
TEST(FleetTokenFileTest, RefusesATokenOthersMayReadOrGuess) {
  TempDir dir;
  struct Case {
    std::string what;
    mode_t mode;
    std::string text;
    std::string token;  // empty: refused
    std::string why;
  };
  for (const Case& c : std::vector<Case>{
           {"its owner's only", 0600, "0123456789abcdef\n", "0123456789abcdef", ""},
           {"read-only", 0400, "  0123456789abcdef0123\r\n", "0123456789abcdef0123", ""},
           {"the group may read it", 0640, "0123456789abcdef", "", "group or others"},
           {"anyone may read it", 0604, "0123456789abcdef", "", "group or others"},
           {"15 characters", 0600, " 0123456789abcde\n", "", "shorter than 16"},
           {"blanks only", 0600, " \n\t", "", "no token"}}) {
    const std::string path = dir.Write("token", c.text);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    std::string why;
    EXPECT_EQ(appserver::ReadToken(path, why), c.token) << c.what;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
  }
  std::string why;
  EXPECT_EQ(appserver::ReadToken(dir.path() + "/none", why), "");
  EXPECT_EQ(why, "No such file or directory");
}

TEST(FleetKeysFileTest, TakesOnlyLinesOfARegisterAndItsKey) {
  TempDir dir;
  const std::string key = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
  std::string why;
  const auto keys = appserver::ReadFleetKeys(
      dir.Write("keys", "# filial/caixa chave\n\n0001/001 " + key + "\r\n0002/010 " + key + "\n"),
      why);
  ASSERT_TRUE(keys) << why;
  EXPECT_EQ(*keys, (std::map<std::string, std::string>{{"0001/001", key}, {"0002/010", key}}));
  for (const std::string& bad :
       std::vector<std::string>{"0001 " + key, "/001 " + key, "0001/ " + key, "0001/001/2 " + key,
                                "0001/001", "0001/001 chave", "0001/001 " + key.substr(4)}) {
    EXPECT_FALSE(appserver::ReadFleetKeys(dir.Write("keys", "# ok\n" + bad + "\n"), why)) << bad;
    EXPECT_EQ(why, "line 2 is not \"FILIAL/CAIXA KEY\"") << bad;
  }
}

}  // namespace
}  // namespace jov::testing
