// The XML data packet: the writer's exact form, round trips, the variations a reader accepts,
// and malformed packets, which must raise a clear error and nothing worse.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/dataset_files_xml.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "platform/file_text.h"
#include "platform/registry_hive.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

using Row = std::map<std::string, std::optional<std::string>>;

const char kSample[] =
    "<?xml version=\"1.0\" standalone=\"yes\"?>\n"
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n"
    "<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" WIDTH=\"4\"/>\n"
    "<FIELD attrname=\"CDCAIXA\" fieldtype=\"string\" WIDTH=\"3\"/>\n"
    "</FIELDS><PARAMS/></METADATA><ROWDATA>\n"
    "<ROW CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n"
    "</ROWDATA></DATAPACKET>\n";

Dataset Parse(const std::string& text) { return ParseDataPacket(text, "pacote.cds"); }

// A packet of one string field NOME and one row holding the attribute text as written.
std::string OneValue(const std::string& prolog, const std::string& attribute) {
  return prolog +
         "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
         "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"40\"/></FIELDS><PARAMS/>"
         "</METADATA><ROWDATA><ROW NOME=\"" +
         attribute + "\"/></ROWDATA></DATAPACKET>";
}

std::string ValueOf(const std::string& packet) {
  const Dataset data = Parse(packet);
  EXPECT_EQ(data.rows.size(), 1u);
  return data.rows.at(0).at("NOME").value_or("<null>");
}

TEST(DataPacketWriter, WritesThePlatformsFormByteForByte) {
  Dataset data;
  data.fields = {{"CDFILIAL", "string", 4}, {"CDCAIXA", "string", 3}};
  data.rows = {Row{{"CDFILIAL", "0001"}, {"CDCAIXA", "001"}}};
  EXPECT_EQ(WriteDataPacket(data), kSample);
}

TEST(DataPacketWriter, RoundTripsEveryByteOfTheCodePageAsPlainAscii) {
  std::string every;
  for (int c = 1; c < 256; ++c) every += static_cast<char>(c);
  Dataset data;
  data.fields = {{"TEXTO", "string", 255}, {"NUMERO", "i4", 0}, {"VAZIO", "", 0}};
  data.rows = {Row{{"TEXTO", every}, {"NUMERO", "-42"}, {"VAZIO", std::nullopt}},
               Row{{"TEXTO", ""}, {"NUMERO", std::nullopt}, {"VAZIO", "Ação \"x\" <&> 'y'"_w}}};
  const std::string text = WriteDataPacket(data);
  for (char c : text) ASSERT_LT(static_cast<unsigned char>(c), 128) << "the text must be ASCII";
  EXPECT_NE(text.find("&#8364;"), std::string::npos) << "the euro sign is U+20AC";
  const Dataset back = Parse(text);
  ASSERT_EQ(back.rows.size(), 2u);
  // A NULL is written as no attribute and read back as no value.
  EXPECT_EQ(back.rows[0], (Row{{"TEXTO", every}, {"NUMERO", "-42"}}));
  EXPECT_EQ(back.rows[1], (Row{{"TEXTO", ""}, {"VAZIO", "Ação \"x\" <&> 'y'"_w}}));
  EXPECT_EQ(back.fields[1].type, "i4");
  EXPECT_EQ(back.fields[2].type, "string") << "a field without a type is written as a string";
}

TEST(DataPacketWriter, RefusesWhatThePacketCannotHold) {
  Dataset data;
  data.fields = {{"A", "string", 1}};
  data.rows = {Row{{"A", std::string(1, '\0')}}};
  EXPECT_THROW(WriteDataPacket(data), Error);
  data.fields = {{"A", "string", 1}, {"a", "i4", 0}};
  data.rows = {};
  EXPECT_THROW(WriteDataPacket(data), Error) << "a field defined twice";
  for (const std::string name : {"NOME COMPLETO", "1A", "RowState", "A&B"}) {
    data.fields = {{name, "string", 10}};
    data.rows = {};
    EXPECT_NO_THROW(WriteDataPacket(data)) << "a field that holds no value: " << name;
    data.rows = {Row{{cp1252::UpperAscii(name), "x"}}};
    EXPECT_THROW(WriteDataPacket(data), Error) << name;
  }
  data.fields = {{"AÇÃO"_w, "string", 10}};
  data.rows = {Row{{"AÇÃO"_w, "sim"}}};
  EXPECT_EQ(ParseDataPacket(WriteDataPacket(data), "x").rows, data.rows)
      << "a name with accented letters is written in UTF-8";
}

TEST(DataPacketReader, ReadsTheSample) {
  const Dataset data = Parse(kSample);
  ASSERT_EQ(data.fields.size(), 2u);
  EXPECT_EQ(data.fields[0].name, "CDFILIAL");
  EXPECT_EQ(data.fields[0].width, 4);
  ASSERT_EQ(data.rows.size(), 1u);
  EXPECT_EQ(data.rows[0].at("CDCAIXA"), "001");
}

TEST(DataPacketReader, AcceptsTheDeclaredEncodings) {
  EXPECT_EQ(ValueOf(OneValue("", "S\xC3\xA3o \xE2\x82\xAC")), "São €"_w) << "UTF-8 by default";
  EXPECT_EQ(ValueOf(OneValue("\xEF\xBB\xBF<?xml version=\"1.0\"?>", "S\xC3\xA3o")), "São"_w);
  EXPECT_EQ(ValueOf(OneValue("<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "S\xE3o \x80")),
            "São €"_w);
  EXPECT_EQ(ValueOf(OneValue("<?xml version='1.0' encoding='iso-8859-1'?>", "S\xE3o")), "São"_w);
  EXPECT_EQ(ValueOf(OneValue("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
                             "\xC3\xA7")),
            "ç"_w);
}

TEST(DataPacketReader, CharacterReferencesAndLineBreaks) {
  EXPECT_EQ(ValueOf(OneValue("", "&#227;&#xE3;&#8364;&amp;&lt;&gt;&quot;&apos;")), "ãã€&<>\"'"_w);
  EXPECT_EQ(ValueOf(OneValue("", "a&#13;&#10;b")), "a\r\nb") << "references keep line breaks";
  EXPECT_EQ(ValueOf(OneValue("", "a\r\nb\tc\nd")), "a b c d") << "literal ones become blanks";
  EXPECT_EQ(ValueOf(OneValue("", "&#x4E2D;")), "?") << "a character the code page lacks";
}

TEST(DataPacketReader, AcceptsTheVariationsOfOtherWriters) {
  const std::string packet =
      "<?xml version=\"1.0\"?>\r\n<!-- exported -->\r\n"
      "<datapacket version='2.0'>\r\n  <metadata>\r\n    <fields>\r\n"
      "      <field FieldType='I4' AttrName='CDCAIXA'/>\r\n"
      "      <FIELD ATTRNAME=\"CDFILIAL\" FIELDTYPE=\"String\" width=\"4\" required=\"true\">\r\n"
      "        <PARAM Name=\"x\" Value=\"y\"/>\r\n      </FIELD>\r\n"
      "      <FIELD attrname=\"EXTRA\" fieldtype=\"r8\"/>\r\n"
      "    </fields>\r\n    <PARAMS LCID=\"1046\"/>\r\n  </metadata>\r\n"
      "  <ROWDATA>\r\n    <ROW RowState=\"4\" cdfilial=\"0002\" CDCAIXA = '7'/>\r\n"
      "    <ROW RowState=\"4\"></ROW>\r\n  </ROWDATA>\r\n</datapacket>\r\n<!-- end -->\r\n";
  const Dataset data = Parse(packet);
  ASSERT_EQ(data.fields.size(), 3u);
  EXPECT_EQ(data.fields[0].name, "CDCAIXA");
  EXPECT_EQ(data.fields[0].type, "i4");
  EXPECT_EQ(data.fields[1].type, "string");
  EXPECT_EQ(data.fields[1].width, 4);
  ASSERT_EQ(data.rows.size(), 2u);
  EXPECT_EQ(data.rows[0].at("CDFILIAL"), "0002");
  EXPECT_EQ(data.rows[0].at("CDCAIXA"), "7");
  EXPECT_EQ(data.rows[0].count("EXTRA"), 0u) << "an absent attribute is NULL";
  EXPECT_EQ(data.rows[1].count("CDFILIAL"), 0u);
  EXPECT_EQ(data.rows[0].count("ROWSTATE"), 0u);
}

TEST(DataPacketReader, APacketWithoutRowsOrRowdata) {
  EXPECT_TRUE(Parse("<DATAPACKET><METADATA><FIELDS/></METADATA></DATAPACKET>").rows.empty());
  EXPECT_TRUE(Parse("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string\"/>"
                    "</FIELDS></METADATA><ROWDATA/></DATAPACKET>")
                  .rows.empty());
}

TEST(DataPacketReader, MalformedPacketsRaiseAnErrorNamingTheSource) {
  const std::string field = "<FIELD attrname=\"A\" fieldtype=\"string\"/>";
  const std::string head = "<DATAPACKET><METADATA><FIELDS>" + field + "</FIELDS></METADATA>";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "no root element"},
      {"   \n", "no root element"},
      {"not xml at all", "text before the root element"},
      {"<OTHER/>", "not DATAPACKET"},
      {"<DATAPACKET/>", "no METADATA"},
      {"<DATAPACKET><METADATA/></DATAPACKET>", "no FIELDS"},
      {"<DATAPACKET><METADATA><FIELDS><FIELD fieldtype=\"string\"/></FIELDS></METADATA>"
       "</DATAPACKET>",
       "without attrname"},
      {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\"/></FIELDS></METADATA></DATAPACKET>",
       "without fieldtype"},
      {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string\" WIDTH=\"x\"/>"
       "</FIELDS></METADATA></DATAPACKET>",
       "bad WIDTH"},
      {"<DATAPACKET><METADATA><FIELDS>" + field + "<FIELD attrname=\"a\" fieldtype=\"i4\"/>" +
           "</FIELDS></METADATA></DATAPACKET>",
       "defined twice"},
      {head + "<ROWDATA><ROW B=\"1\"/></ROWDATA></DATAPACKET>", "names no field"},
      {head + "<ROWDATA><ROW A=\"1\" a=\"2\"/></ROWDATA></DATAPACKET>", "given twice"},
      {head + "<ROWDATA><ROW A=\"1\" A=\"2\"/></ROWDATA></DATAPACKET>", "given twice"},
      {head + "<ROWDATA><LINHA/></ROWDATA></DATAPACKET>", "unexpected element"},
      {head + "<ROWDATA><ROW A=\"&nbsp;\"/></ROWDATA></DATAPACKET>", "unknown entity"},
      {head + "<ROWDATA><ROW A=\"&#0;\"/></ROWDATA></DATAPACKET>", "bad character reference"},
      {head + "<ROWDATA><ROW A=\"&#xD800;\"/></ROWDATA></DATAPACKET>", "bad character reference"},
      {head + "<ROWDATA><ROW A=\"&#99999999999;\"/></ROWDATA></DATAPACKET>", "reference"},
      {head + "<ROWDATA><ROW A=\"a<b\"/></ROWDATA></DATAPACKET>", "\"<\" inside"},
      {head + "<ROWDATA><ROW A=\"\xC3\"/></ROWDATA></DATAPACKET>", "invalid UTF-8"},
      {head + "<ROWDATA><ROW A=\"\xC0\xAF\"/></ROWDATA></DATAPACKET>", "invalid UTF-8"},
      {head + "<ROWDATA><ROW A=\"\xED\xA0\x80\"/></ROWDATA></DATAPACKET>", "invalid UTF-8"},
      {head + "<ROWDATA><ROW A=\"\x01\"/></ROWDATA></DATAPACKET>", "control character"},
      {head + "<ROWDATA><ROW A=\"1\"></ROWDATA></DATAPACKET>", "closes <ROW>"},
      {head + "<ROWDATA><ROW A=1/></ROWDATA></DATAPACKET>", "quoted attribute value"},
      {head + "<ROWDATA><ROW A=\"1\"B=\"2\"/></ROWDATA></DATAPACKET>", "blank between"},
      {head + "texto</DATAPACKET>", "unexpected text"},
      {head + "<![CDATA[x]]></DATAPACKET>", "unexpected markup"},
      {head + "</DATAPACKET><DATAPACKET/>", "content after the root element"},
      {head + "<!-- a -- b --></DATAPACKET>", "inside a comment"},
      {"<!DOCTYPE d [<!ENTITY a \"aaaa\">]><DATAPACKET/>", "document type"},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><DATAPACKET/>", "unsupported encoding"},
      {"<?xml version=\"2.0\"?><DATAPACKET/>", "unsupported XML version"},
      {"<?xml encoding=\"UTF-8\"?><DATAPACKET/>", "without a version"},
      {"\xFF\xFE<\0D\0", "UTF-16"},
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?><DATAPACKET/>",
       "byte order mark"},
      {"<DATAPACKET><METADATA><FIELDS></FIELDS></METADATA><METADATA/></DATAPACKET>",
       "more than one METADATA"},
      {head + "<ROWDATA><ROW \xE4\xB8\xAD=\"1\"/></ROWDATA></DATAPACKET>",
       "a character Windows-1252 lacks"},
  };
  for (const auto& [packet, cause] : cases) {
    try {
      Parse(packet);
      ADD_FAILURE() << "accepted: " << packet;
    } catch (const Error& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("pacote.cds: ", 0), 0u) << message;
      EXPECT_NE(message.find(cause), std::string::npos) << packet << "\n -> " << message;
      EXPECT_NE(message.find("(line "), std::string::npos) << message;
    }
  }
}

TEST(DataPacketReader, EveryCutOfAPacketIsRefused) {
  const std::string packet = kSample;
  for (std::size_t size = 0; size + 1 < packet.size(); ++size) {
    // The last byte is a line feed after the root element, so every shorter cut is short of
    // the closing tag.
    EXPECT_THROW(Parse(packet.substr(0, size)), Error) << size;
  }
}

TEST(DataPacketReader, DamagedPacketsOnlyEverRaiseError) {
  const std::string packet = kSample;
  const char replacements[] = {'\0', '<', '>', '"', '&', '/', '\xC3', ' ', 'x', '='};
  for (std::size_t at = 0; at < packet.size(); ++at) {
    for (char c : replacements) {
      std::string damaged = packet;
      damaged[at] = c;
      try {
        Parse(damaged);
      } catch (const Error&) {
      }
    }
  }
}

// Wide packets: every field and every attribute of a row is told apart from all the others,
// wherever the repeated one stands, and a row keeps only the values it gives.
TEST(DataPacketReader, FindsTheOneRepeatedNameAmongThousands) {
  constexpr int kCount = 4000;
  std::string fields;
  std::string row;
  for (int i = 0; i < kCount; ++i) {
    fields += "<FIELD attrname=\"F" + std::to_string(i) + "\" fieldtype=\"string\"/>";
    row += " F" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  }
  const auto packet = [](const std::string& f, const std::string& r) {
    return "<DATAPACKET><METADATA><FIELDS>" + f + "</FIELDS></METADATA><ROWDATA>" + r +
           "</ROWDATA></DATAPACKET>";
  };
  const Dataset data = Parse(packet(fields, "<ROW" + row + "/><ROW/><ROW F7=\"x\"/>"));
  ASSERT_EQ(data.rows.size(), 3u);
  EXPECT_EQ(data.rows[0].size(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(data.rows[0].at("F3999"), "3999");
  EXPECT_TRUE(data.rows[1].empty()) << "no NULL entry for every field of a bare row";
  EXPECT_EQ(data.rows[2], (Row{{"F7", "x"}}));

  struct Case {
    const char* what;
    std::string fields, rows, error;
  };
  const std::vector<Case> cases = {
      {"an exact repeat last", fields, "<ROW" + row + " F0=\"y\"/>", "attribute F0 given twice"},
      {"a repeat in another case last", fields, "<ROW" + row + " f2=\"y\"/>",
       "attribute f2 given twice"},
      {"a repeat first", fields, "<ROW F3999=\"y\"" + row + "/>", "attribute F3999 given twice"},
      {"a field defined again last", fields + "<FIELD attrname=\"f1\" fieldtype=\"string\"/>", "",
       "field f1 defined twice"},
  };
  for (const Case& c : cases) {
    try {
      Parse(packet(c.fields, c.rows));
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

// Around the count where repeats stop being looked for one by one: a row, a FIELD or any other
// element of n attributes parses whole, and a repeat of any one of them is found: in a row or
// a FIELD also one in another letter case, elsewhere (as XML has it) only an exact one.
TEST(DataPacketReader, FindsARepeatAtAnyCountOfAttributes) {
  const auto error_of = [](const std::string& text) {
    try {
      Parse(text);
      return std::string("no error");
    } catch (const Error& e) {
      return std::string(e.what());
    }
  };
  for (const int n : {2, 15, 16, 17, 18, 40}) {
    std::string fields;
    std::string attributes;
    for (int i = 0; i < n; ++i) {
      fields += "<FIELD attrname=\"F" + std::to_string(i) + "\" fieldtype=\"string\"/>";
      attributes += " F" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    const auto packet = [&](const std::string& in_field, const std::string& in_row,
                            const std::string& in_params) {
      return "<DATAPACKET><METADATA><FIELDS>" + fields + "<FIELD attrname=\"X\" fieldtype=\"i4\"" +
             attributes + in_field + "/></FIELDS><PARAMS" + attributes + in_params +
             "/></METADATA><ROWDATA><ROW" + attributes + in_row + "/></ROWDATA></DATAPACKET>";
    };
    EXPECT_EQ(Parse(packet("", "", "")).rows.at(0).size(), static_cast<std::size_t>(n));
    for (const int repeated : {0, n / 2, n - 1}) {
      for (const char* prefix : {" F", " f"}) {
        const std::string again = prefix + std::to_string(repeated) + "=\"y\"";
        const std::string expected = again.substr(1, again.find('=') - 1) + " given twice";
        for (const std::string& text :
             {packet(again, "", ""), packet("", again, ""), packet("", "", again)}) {
          const bool other_case = prefix[1] == 'f' && text == packet("", "", again);
          const std::string error = error_of(text);
          EXPECT_EQ(error.find(expected) != std::string::npos, !other_case)
              << n << " attributes, then" << again << ": " << error;
        }
      }
    }
  }
}

TEST(DataPacketReader, DeepNestingAndHugeInputAreRefusedWithoutCrashing) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<A>";
  EXPECT_THROW(Parse("<DATAPACKET>" + deep), Error);
  std::string huge(kMaxDataPacketBytes + 1, ' ');
  EXPECT_THROW(Parse(huge), Error);
  // Tiny elements cost far more in memory than in text: their number is bounded too.
  std::string many = "<DATAPACKET><METADATA><FIELDS/></METADATA><ROWDATA>";
  for (int i = 0; i < (1 << 20) + 1; ++i) many += "<ROW/>";
  EXPECT_NE(MessageOf<Error>([&] { Parse(many + "</ROWDATA></DATAPACKET>"); }).find("elements"),
            std::string::npos);
}

TEST(DatasetFilesXml, SavesAndLoadsRealFiles) {
  TempDir dir;
  DatasetFilesXml files;
  const std::string path = dir.path() + "/cdsFilialCaixa.cds";
  Dataset data;
  data.fields = {{"CDFILIAL", "string", 4}, {"CDCAIXA", "string", 3}};
  data.rows = {Row{{"CDFILIAL", "0001"}, {"CDCAIXA", "001"}}};
  files.Save(path, data);
  EXPECT_EQ(TempDir::Read(path), kSample);
  data.rows[0]["CDCAIXA"] = "002";
  ::chmod(path.c_str(), 0640);
  files.Save(path, data);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its permission bits";
  EXPECT_EQ(files.Load(path).rows.at(0).at("CDCAIXA"), "002");
}

TEST(DatasetFilesXml, FailuresNameTheFile) {
  TempDir dir;
  DatasetFilesXml files;
  const auto message = [](const std::function<void()>& action) {
    try {
      action();
    } catch (const Error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  const std::string missing = dir.path() + "/Mercato.cds";
  EXPECT_NE(message([&] { files.Load(missing); }).find(missing), std::string::npos);
  const std::string broken = dir.Write("broken.cds", "<DATAPACKET><METADATA>");
  EXPECT_NE(message([&] { files.Load(broken); }).find(broken + ": malformed"), std::string::npos);
  const std::string nowhere = dir.path() + "/no/such/folder/x.cds";
  EXPECT_NE(message([&] { files.Save(nowhere, Dataset{}); }).find(nowhere), std::string::npos);
  EXPECT_NE(message([&] { files.Load(dir.path()); }).find(dir.path()), std::string::npos);
}

// Fault: a FIFO in the place of "Mercato.cds", "cdsFilialCaixa.cds" or the hive held the
// launcher in open() until some program wrote to it.
TEST(DatasetFilesXml, AFifoInAFilesPlaceIsRefusedAtOnceNamingIt) {
  TempDir dir;
  const std::string fifo = dir.path() + "/Mercato.cds";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  DatasetFilesXml datasets;
  RegistryHive hive(fifo, 300);
  const std::pair<const char*, std::function<std::string()>> readers[] = {
      {"data packet", [&] { return std::string(ErrorOf([&] { datasets.Load(fifo); }).what()); }},
      {"hive",
       [&] { return std::string(ErrorOf([&] { hive.ReadString("Software\\Jov", "X"); }).what()); }},
      {"bytes", [&] { return std::string(ErrorOf([&] { ReadFileBytes(fifo, 1024); }).what()); }},
      {"text", [&] { return std::to_string(ReadFileText(fifo, 1024).error); }},
  };
  for (const auto& [what, read] : readers) {
    SCOPED_TRACE(what);
    std::future<std::string> result = std::async(std::launch::async, read);
    const bool returned = WaitUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 3s);
    EXPECT_TRUE(returned) << "the reader waited for a writer";
    if (!returned) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets it go
    const std::string message = result.get();
    if (std::string(what) == "text") {
      EXPECT_EQ(message, std::to_string(EINVAL));
    } else {
      EXPECT_NE(message.find(fifo), std::string::npos) << message;
      EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
    }
  }
}

}  // namespace
}  // namespace jov::testing
