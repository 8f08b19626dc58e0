// A stand-in for the point-of-sale module: a full-screen window in the launcher's looks that
// says which branch and register it runs for, and returns when the operator leaves it.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <exception>
#include <optional>
#include <string>

#include "clientlib/blended_bitbtn.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/file_text.h"
#include "platform/host_path_linux.h"

namespace {

struct Codigos {
  std::string filial;
  std::string caixa;
};

// The first row's codes of one of the launcher's data files; nothing when the file is
// missing, malformed or lacks either code.
std::optional<Codigos> LeCodigos(const std::string& path) {
  const jov::FileText file = jov::ReadFileText(path, jov::kMaxDataPacketBytes);
  if (file.error != 0 || file.too_large) return std::nullopt;
  try {
    const jov::Dataset data = jov::ParseDataPacket(file.text, path);
    if (data.rows.empty()) return std::nullopt;
    const auto& row = data.rows.front();
    const auto filial = row.find("CDFILIAL");
    const auto caixa = row.find("CDCAIXA");
    if (filial == row.end() || caixa == row.end() || !filial->second || !caixa->second) {
      return std::nullopt;
    }
    return Codigos{*filial->second, *caixa->second};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The codes the launcher left in the program directory: the typed ones first, else those of
// the point-of-sale data file.
std::optional<Codigos> CodigosDoCaixa(const std::string& program_dir) {
  for (const char* name : {"cdsFilialCaixa.cds", "Mercato.cds"}) {
    if (auto codes = LeCodigos(program_dir + "/" + name)) return codes;
  }
  return std::nullopt;
}

// Every text is copied onto the heap: a literal's text would live in this module's own memory,
// which goes when the package is unloaded while Qt may still keep the string (font cache keys,
// window titles).
QString Texto8(const char* utf8) { return QString::fromUtf8(utf8); }

QFont Arial(int pixels, bool bold) {
  QFont font(Texto8("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QLabel* Texto(QWidget* parent, const char* name, const QString& text, const QFont& font,
              const QColor& colour) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  QPalette look = label->palette();
  look.setColor(QPalette::WindowText, colour);
  label->setPalette(look);
  return label;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ExecutaModulo(int flag) {
  // The module runs inside the host: its program folder is the host's.
  jov::HostPathLinux host;
  const std::optional<Codigos> codes = CodigosDoCaixa(jov::DirectoryOf(host.ExecutablePath()));
  const QColor grey(0x80, 0x80, 0x80);

  QDialog window;
  window.setObjectName(Texto8("frmREV10000"));
  window.setWindowTitle(Texto8("REV10000"));
  window.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  QPalette look = window.palette();
  look.setColor(QPalette::Window, look.color(QPalette::Active, QPalette::Button));
  window.setPalette(look);
  window.setAutoFillBackground(true);

  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(54, 40, 54, 40);
  layout->addStretch();
  layout->addWidget(Texto(&window, "lblTitulo",
                          flag ? Texto8("Ponto de venda (início)") : Texto8("Ponto de venda"),
                          Arial(32, true), Qt::black));
  layout->addSpacing(24);
  if (codes) {
    layout->addWidget(Texto(&window, "lblFilial",
                            Texto8("Filial ") + jov::cp1252::ToQString(codes->filial),
                            Arial(24, true), grey));
    layout->addWidget(Texto(&window, "lblCaixa",
                            Texto8("Caixa ") + jov::cp1252::ToQString(codes->caixa),
                            Arial(24, true), grey));
  } else {
    layout->addWidget(
        Texto(&window, "lblFilial", Texto8("Filial e caixa desconhecidos"), Arial(24, true), grey));
  }
  layout->addStretch();

  // The launcher's "Sair" button: red, rounded, white Arial caption.
  auto* leave = new jov::TBlendedBitBtn(&window);
  leave->setObjectName(Texto8("sbtVoltar"));
  leave->SetCaption("&Voltar ao início"_w);
  leave->setFont(Arial(15, false));
  leave->setFixedSize(160, 46);
  leave->BrushColor = jov::ColorFromStored(1130222);  // #EE3E11
  leave->FontColor = Qt::white;
  leave->DownColor = look.color(QPalette::Active, QPalette::WindowText);
  leave->DownFontColor = look.color(QPalette::Active, QPalette::Base);
  leave->OnClick = [&window](jov::TBlendedBitBtn*) { window.accept(); };
  layout->addWidget(leave, 0, Qt::AlignLeft);

  // Escape rejects the dialog. When the application is quitting its event loops end, this
  // window's included, and the window goes with this call.
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, &QDialog::reject);
  // The whole screen, also where no window manager gives full-screen windows their size.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window.setGeometry(screen->geometry());
  }
  window.setWindowState(Qt::WindowFullScreen);
  window.exec();
}
