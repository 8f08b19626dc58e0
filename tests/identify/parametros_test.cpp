// Settling the branch and register codes: from a real point-of-sale data file, or asked of the
// operator and saved to a real file; and on the form, the keyboard prompts that ask for them
// and the end of their wait when the application quits.
#include "Cli_jov00000/identify/parametros.h"

#include <gtest/gtest.h>
#include <qtestspontaneevent.h>

#include <QApplication>
#include <QHideEvent>
#include <QLabel>
#include <QShowEvent>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>

#include "Cli_jov00000/data_components.h"
#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"
#include "platform/dataset_files_xml.h"
#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;
using Cli_jov00000::isCaixa;
using Cli_jov00000::isFilial;
using Cli_jov00000::isNone;

const std::string kNotice =
    "N\xE3o foi localizado arquivo Mercato.cds, Filial e Caixa devem ser informados para que "
    "seja realizado a baixa das tabelas.";

// A data packet with the given FIELD and ROW elements.
std::string Packet(const std::string& fields, const std::string& rows) {
  return "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA>"
         "<FIELDS>\n" +
         fields + "</FIELDS><PARAMS/></METADATA><ROWDATA>\n" + rows + "</ROWDATA></DATAPACKET>\n";
}
std::string Field(const std::string& name, int width) {
  return "<FIELD attrname=\"" + name + "\" fieldtype=\"string\" WIDTH=\"" + std::to_string(width) +
         "\"/>\n";
}
const std::string kCodeFields = Field("CDFILIAL", 4) + Field("CDCAIXA", 3);

// PreencheParametros over real files in a temporary program folder; the operator is a script
// and the database a fake that records what the query was given.
class ParametrosTest : public ::testing::Test {
 protected:
  ParametrosTest() {
    cdsFilialCaixa.FieldDefs = {&campo_filial, &campo_caixa};
    query.Connection = &connection;
    query.SQL = {"SELECT IDAUTOIMPTAB, IDUTILABERAUTO,IDPERACESSOTER", "  FROM CAIXA",
                 " WHERE CDFILIAL = :P_CDFILIAL", "   AND CDCAIXA  = :P_CDCAIXA"};
    database.rows = {{{"IDAUTOIMPTAB", "N"}, {"IDUTILABERAUTO", "S"}, {"IDPERACESSOTER", "N"}}};
  }

  std::string Mercato() const { return dir.path() + "/Mercato.cds"; }
  std::string Saved() const { return dir.path() + "/cdsFilialCaixa.cds"; }

  void Run() {
    Cli_jov00000::Parametros saida{filial, caixa, util, per};
    const Cli_jov00000::FontesDeParametros fontes{
        files,
        datasets,
        dialogs,
        Mercato(),
        saved_path.empty() ? Saved() : saved_path,
        kNotice,
        {[this](Cli_jov00000::TInputStep step, const std::string& prompt, int max_length) {
           log.Add("operador.Pede " + std::to_string(step) + " " + prompt + " " +
                   std::to_string(max_length));
           if (typed.empty()) throw Abort();
           const std::string entry = typed.front();
           typed.pop_front();
           return entry;
         },
         [this] { log.Add("operador.Esconde"); }},
        cdsParametrosJov,
        cdsFilialCaixa,
        query};
    Cli_jov00000::PreencheParametros(fontes, saida);
  }

  void Forget() {
    log.calls.clear();
    dialogs.shown.clear();
    database.Disconnect();
    filial = caixa = util = per = "";
  }

  TempDir dir;
  FileSystemLinux files;
  DatasetFilesXml datasets;
  CallLog log;
  FakeDialogs dialogs{log};
  FakeDatabase database{log};
  TClientDataSet cdsParametrosJov;
  TStringField campo_filial{"CDFILIAL", 4};
  TStringField campo_caixa{"CDCAIXA", 3};
  TClientDataSet cdsFilialCaixa;
  TADOConnection connection{database};
  TADOQuery query;
  std::deque<std::string> typed;  // the operator's entries, one per prompt
  std::string saved_path;         // where the typed codes go, when not the usual file
  std::string filial, caixa, util, per;
};

TEST_F(ParametrosTest, TheDataFileGivesTheFirstRowsCodesAsStoredAndAsksNobody) {
  struct Case {
    const char* what;
    std::string packet;
    const char* filial;
    const char* caixa;
  };
  const Case cases[] = {
      {"the usual file", Packet(kCodeFields, "<ROW CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n"), "0001",
       "001"},
      {"codes longer than their widths",
       Packet(kCodeFields, "<ROW CDFILIAL=\"000123\" CDCAIXA=\"0045\"/>\n"), "000123", "0045"},
      {"codes shorter than their widths",
       Packet(kCodeFields, "<ROW CDFILIAL=\"7\" CDCAIXA=\"1\"/>\n"), "7", "1"},
      {"extra fields and rows, another order",
       Packet(Field("NMFILIAL", 40) + Field("CDCAIXA", 3) + Field("CDFILIAL", 4),
              "<ROW NMFILIAL=\"Loja S&#227;o Jo&#227;o\" CDCAIXA=\"002\" CDFILIAL=\"0007\"/>\n"
              "<ROW NMFILIAL=\"Outra\" CDCAIXA=\"009\" CDFILIAL=\"0009\"/>\n"),
       "0007", "002"},
      {"a code without its attribute", Packet(kCodeFields, "<ROW CDFILIAL=\"0003\"/>\n"), "0003",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Forget();
    dir.Write("Mercato.cds", c.packet);
    Run();
    EXPECT_EQ(filial, c.filial);
    EXPECT_EQ(caixa, c.caixa);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(log.Contains("operador"));
    EXPECT_FALSE(fs::exists(Saved()));
    EXPECT_EQ(database.last_params, (std::map<std::string, std::string>{{"P_CDFILIAL", c.filial},
                                                                        {"P_CDCAIXA", c.caixa}}));
    EXPECT_EQ(util, "S");
    EXPECT_EQ(per, "N");
  }
}

TEST_F(ParametrosTest, ADataFileThatGivesNoCodesIsAnErrorNamingItAndTheRulesAreNotRead) {
  const std::string whole = Packet(kCodeFields, "<ROW CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n");
  struct Case {
    const char* what;
    std::string bytes;
    const char* filial_left;  // what was read before the failure
  };
  const Case cases[] = {
      {"an empty file", "", ""},
      {"plain text", "Filial 0001 Caixa 001\n", ""},
      {"binary bytes", std::string("\x00\x01\xFF\xFE PK\x03\x04", 9), ""},
      {"another kind of XML", "<?xml version=\"1.0\"?><CAIXA CDFILIAL=\"0001\"/>", ""},
      {"a file cut short", whole.substr(0, whole.size() / 2), ""},
      {"no field CDFILIAL", Packet(Field("CDCAIXA", 3), "<ROW CDCAIXA=\"001\"/>\n"), ""},
      {"no field CDCAIXA", Packet(Field("CDFILIAL", 4), "<ROW CDFILIAL=\"0001\"/>\n"), "0001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Forget();
    dir.Write("Mercato.cds", c.bytes);
    try {
      Run();
      ADD_FAILURE() << "no error";
    } catch (const Abort&) {
      ADD_FAILURE() << "a silent abort hides the broken file";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(Mercato()), std::string::npos) << error.what();
    }
    EXPECT_EQ(filial, c.filial_left);
    EXPECT_EQ(util, "");
    EXPECT_EQ(per, "");
    EXPECT_FALSE(log.Contains("database.")) << "the rules are read only for known codes";
    EXPECT_FALSE(log.Contains("operador"));
    EXPECT_FALSE(fs::exists(Saved()));
  }
}

// What the launcher wrote for the typed codes, read back as a data packet.
Dataset ReadSaved(const std::string& path) { return DatasetFilesXml().Load(path); }

// Every start without the data file asks again and replaces the saved file, whoever wrote it.
TEST_F(ParametrosTest, WithoutTheDataFileTheTypedCodesAreFittedThenSavedAndQueried) {
  struct Case {
    const char* filial_typed;
    const char* caixa_typed;
    const char* filial;
    const char* caixa;
    const char* left;  // what another program left in the saved file, if anything
  };
  const Case cases[] = {{"1", "7", "0001", "007", ""},
                        {"12", "34", "0012", "034", ""},
                        {"ABCD", "123", "ABCD", "123", ""},
                        {"\xC7", "9", "000\xC7", "009", ""},
                        {"1", "1", "0001", "001", "left by an older program, never read back"},
                        {"22", "3", "0022", "003", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filial_typed) + "/" + c.caixa_typed + (*c.left ? " over " : "") +
                 c.left);
    Forget();
    if (*c.left) dir.Write("cdsFilialCaixa.cds", c.left);
    typed = {c.filial_typed, c.caixa_typed};
    Run();
    EXPECT_EQ(log.calls, (std::vector<std::string>{
                             "dialogs.Notify3 " + kNotice, "operador.Pede 0 Informe a Filial 4",
                             "operador.Pede 1 Informe o Caixa 3", "operador.Esconde",
                             "database.Connect ", "database.Query"}));
    EXPECT_EQ(filial, c.filial);
    EXPECT_EQ(caixa, c.caixa);
    const Dataset saved = ReadSaved(Saved());
    ASSERT_EQ(saved.fields.size(), 2u);
    EXPECT_EQ(saved.fields[0].name, "CDFILIAL");
    EXPECT_EQ(saved.fields[0].width, 4);
    EXPECT_EQ(saved.fields[1].name, "CDCAIXA");
    EXPECT_EQ(saved.fields[1].width, 3);
    ASSERT_EQ(saved.rows.size(), 1u);
    EXPECT_EQ(saved.rows[0].at("CDFILIAL"), c.filial);
    EXPECT_EQ(saved.rows[0].at("CDCAIXA"), c.caixa);
    EXPECT_EQ(database.last_params, (std::map<std::string, std::string>{{"P_CDFILIAL", c.filial},
                                                                        {"P_CDCAIXA", c.caixa}}));
    EXPECT_EQ(util, "S");
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename());
  }
  EXPECT_EQ(names, std::vector<std::string>{"cdsFilialCaixa.cds"}) << "no temporary file left";
}

TEST_F(ParametrosTest, ASaveThatFailsIsAnErrorNamingTheFileAndKeepsTheFittedCodes) {
  saved_path = dir.path() + "/no/such/folder/cdsFilialCaixa.cds";
  typed = {"5", "6"};
  try {
    Run();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find(saved_path), std::string::npos) << error.what();
  }
  EXPECT_EQ(filial, "0005");
  EXPECT_EQ(caixa, "006");
  EXPECT_EQ(util, "");
  EXPECT_FALSE(log.Contains("database."));
}

TEST_F(ParametrosTest, APromptEndedWithoutAnEntryAbortsSilentlyBeforeAnythingIsSaved) {
  for (const auto& entries : {std::deque<std::string>{}, std::deque<std::string>{"1"}}) {
    SCOPED_TRACE(entries.empty() ? "at the branch" : "at the register");
    Forget();
    typed = entries;
    EXPECT_THROW(Run(), Abort);
    EXPECT_FALSE(log.Contains("operador.Esconde"));
    EXPECT_FALSE(fs::exists(Saved()));
    EXPECT_FALSE(log.Contains("database."));
  }
}

// The form's own prompts, on fakes, with the first activation run by showing the form.
class PromptsTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    RemoveDataFile();
    fake.database.rows = {{{"IDUTILABERAUTO", "N"}, {"IDPERACESSOTER", "S"}}};
    form = NewFormAfterCreation();
    // Nothing else ends a wait that goes wrong: closing the form ends it with an abort.
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, form.get(), [this] {
      guard_fired = true;
      form->close();
    });
    guard.start(20000);
  }
  void TearDown() override {
    operador.stop();
    form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    LauncherTest::TearDown();
  }

  // The enabled on-screen key that types the character.
  TBlendedBitBtn* KeyFor(char c) const {
    for (TBlendedBitBtn* key : form->findChildren<TBlendedBitBtn*>()) {
      if (key->isEnabled() && key->Tag == static_cast<unsigned char>(c)) return key;
    }
    return nullptr;
  }

  // Runs the action whenever a prompt is up, from inside the wait, as the operator would.
  void AtEveryPrompt(std::function<void()> action) {
    operador.setInterval(5);
    QObject::connect(&operador, &QTimer::timeout, form.get(), [this, action] {
      if (form->sbtConfirma->isVisible() && form->InputStep != isNone) action();
    });
    operador.start();
  }

  struct Prompt {
    int step;
    std::string text;
    int max_length;
    size_t shown_before;  // messages shown before it
    bool main_buttons;    // the main buttons enabled meanwhile
    bool operator==(const Prompt&) const = default;
  };

  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
  QTimer guard;
  QTimer operador;
  bool guard_fired = false;
};

// Before typing, the window is minimised and brought back: a hide by the window system (as is
// moving the window to another desktop) leaves the prompt waiting for its entry.
TEST_F(PromptsTest, TheOperatorTypesBothCodesOnTheKeysAfterTheNotice) {
  std::deque<std::string> entries = {"12", "7"};
  std::vector<Prompt> prompts;
  bool minimised = false;
  AtEveryPrompt([&] {
    if (!minimised) {
      minimised = true;
      // As the window system tells it: sendEvent would take the events for the program's own.
      QHideEvent hide;
      QSpontaneKeyEvent::setSpontaneous(&hide);
      QCoreApplication::instance()->notify(form.get(), &hide);
      QShowEvent show;
      QSpontaneKeyEvent::setSpontaneous(&show);
      QCoreApplication::instance()->notify(form.get(), &show);
      return;
    }
    prompts.push_back({form->InputStep, cp1252::FromQString(form->lblCabec->text()),
                       form->InputMaxLength, fake.dialogs.shown.size(),
                       form->sbtEnter->isEnabled()});
    if (entries.empty()) {
      form->close();
      return;
    }
    for (char c : entries.front()) {
      TBlendedBitBtn* key = KeyFor(c);
      if (key == nullptr) {
        form->close();
        return;
      }
      QTest::mouseClick(key, Qt::LeftButton);
    }
    entries.pop_front();
    QTest::mouseClick(form->sbtConfirma, Qt::LeftButton);
  });
  form->show();
  ASSERT_TRUE(WaitUntil([&] { return fake.log.Contains("database.Query"); }, 30s));
  EXPECT_FALSE(guard_fired);
  EXPECT_EQ(prompts, (std::vector<Prompt>{{isFilial, "Informe a Filial", 4, 1, false},
                                          {isCaixa, "Informe o Caixa", 3, 1, false}}));
  ASSERT_FALSE(fake.dialogs.shown.empty());
  EXPECT_EQ(fake.dialogs.shown.front(), "Notify3: " + kNotice);
  EXPECT_EQ(form->cdFilial, "0012");
  EXPECT_EQ(form->cdCaixa, "007");
  const Dataset& saved = fake.datasets.stored.at("/caixa/cdsFilialCaixa.cds");
  ASSERT_EQ(saved.rows.size(), 1u);
  EXPECT_EQ(saved.rows[0].at("CDFILIAL"), "0012");
  EXPECT_EQ(saved.rows[0].at("CDCAIXA"), "007");
  EXPECT_EQ(fake.database.last_params,
            (std::map<std::string, std::string>{{"P_CDFILIAL", "0012"}, {"P_CDCAIXA", "007"}}));
  EXPECT_EQ(form->idUtilAberAuto, "N");
  EXPECT_EQ(form->idPerAcessoTer, "S");
  EXPECT_FALSE(form->shTeclado->isVisible());
  EXPECT_TRUE(form->sbtEnter->isEnabled());
}

// The ways a wait ends without an entry: the application quitting (the exit key, a shutdown),
// the form closed or hidden under it.
struct EndOfWait {
  const char* name;
  void (*end)(Cli_jov00000::TfrmEscolheSistema& form);
};

class PromptEndTest : public PromptsTest, public ::testing::WithParamInterface<EndOfWait> {};

TEST_P(PromptEndTest, EndsTheActivationSilentlyWithNothingSaved) {
  bool ended = false;
  AtEveryPrompt([&] {
    if (ended) return;
    ended = true;
    GetParam().end(*form);
  });
  form->show();
  ASSERT_TRUE(WaitUntil([&] { return ended; }, 30s));
  // Once out of the wait the activation has ended: nothing after the prompt ran.
  operador.stop();
  EXPECT_FALSE(guard_fired);
  EXPECT_EQ(fake.dialogs.shown, std::vector<std::string>{"Notify3: " + kNotice})
      << "the abort is silent";
  EXPECT_TRUE(fake.datasets.stored.empty());
  EXPECT_FALSE(fake.log.Contains("database."));
  EXPECT_TRUE(fake.programs.starts.empty());
  EXPECT_TRUE(Cli_jov00000::boCriaPriVez);
  // When the application was asked to end, start and leave its loop once so later tests run.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, PromptEndTest,
    ::testing::Values(
        EndOfWait{"ApplicationQuits",
                  [](Cli_jov00000::TfrmEscolheSistema&) { QCoreApplication::exit(0); }},
        EndOfWait{"FormCloses", [](Cli_jov00000::TfrmEscolheSistema& f) { f.close(); }},
        EndOfWait{"FormIsHidden", [](Cli_jov00000::TfrmEscolheSistema& f) { f.hide(); }}),
    [](const ::testing::TestParamInfo<EndOfWait>& info) { return info.param.name; });

}  // namespace
}  // namespace jov::testing
