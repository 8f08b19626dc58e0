// Server connection settings and the HTTP settings kept in the registry.
#include <charconv>
#include <memory>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/consiste.h"
#include "clientlib/geraljov.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/errors.h"

namespace Cli_jov00000 {
namespace {

const std::string kChaveHttp = "Software\\CALVORA\\Sistemas Integrados Calvora\\WebCli";

// The seven registry values, in the order they are written, and the server field of each.
struct ValorHttp {
  const char* nome;
  const char* campo;
  bool inteiro;
};
constexpr ValorHttp kValoresHttp[] = {
    {"HttpHostAddr", "HTTPHOSADDR", false},    {"HttpPort", "HTTPPORT", false},
    {"HttpUseProxy", "IDUTHTTPPROXY", true},   {"HttpProxyHost", "HTTPPROXYHOST", false},
    {"HttpProxyPort", "HTTPPROXYPORT", false}, {"HttpProxyUserId", "HTTPPROXYUSERID", false},
    {"HttpHttps", "HTTPHTTPS", true},
};

// A field's text as an integer; a NULL (empty) field is 0, anything but a whole number in
// range fails the update.
std::int32_t ComoInteiro(const std::string& texto, const char* campo) {
  if (texto.empty()) return 0;
  std::int32_t valor = 0;
  const bool mais = texto.front() == '+';
  const char* inicio = texto.data() + (mais ? 1 : 0);
  const auto [fim, erro] = std::from_chars(inicio, texto.data() + texto.size(), valor);
  if (erro != std::errc() || fim != texto.data() + texto.size() || (mais && *inicio == '-')) {
    throw jov::Error("'" + texto + "' is not a valid integer value for field " + campo,
                     jov::Cause::kFieldNotInteger, {.subject = campo, .detail = texto});
  }
  return valor;
}

}  // namespace

void TfrmEscolheSistema::criaRegHTTP() {
  const jov::DisconnectOnExit desconecta{*netLocalCache};
  std::unique_ptr<jov::TClientDataSet> cdsHttp;
  try {
    Log("Conexão Lum - Criação Registro para HTTP"_w);
    netLocalCache->SetConnected(true);
    Log("Conexão Lum - Conectado"_w);
    Log(" ");
    cdsHttp = std::make_unique<jov::TClientDataSet>();
    const std::string resposta = netLocalCache->AppServer("GetDadosHttp", cdFilial);
    cdsHttp->Data =
        jov::ParseDataPacket(Consiste::CheckResultServ(resposta, true, 0), "GetDadosHttp reply");
    jov::Registry& reg = services_.registry;
    // The open is not checked, but a key that did not open holds no values for what follows:
    // the empty-record branch then does nothing and the first write fails.
    const bool aberta = reg.OpenKey(kChaveHttp, true);
    auto existe_valor = [&](const char* nome) {
      return aberta && reg.ValueExists(kChaveHttp, nome);
    };
    if (cdsHttp->Data.rows.empty()) {
      if (existe_valor("HttpPort")) reg.DeleteValue(kChaveHttp, "HttpPort");
    } else {
      for (const ValorHttp& valor : kValoresHttp) {
        const std::string texto = cdsHttp->FieldText(valor.campo);
        const bool existe = existe_valor(valor.nome);
        if (valor.inteiro) {
          const std::int32_t numero = ComoInteiro(texto, valor.campo);
          if (!existe || reg.ReadInteger(kChaveHttp, valor.nome) != numero) {
            reg.WriteInteger(kChaveHttp, valor.nome, numero);
          }
        } else if (!existe || reg.ReadString(kChaveHttp, valor.nome) != texto) {
          reg.WriteString(kChaveHttp, valor.nome, texto);
        }
      }
    }
  } catch (const std::exception& erro) {
    // The message may hold the server's own text: it reaches the log made safe and short.
    Log("Falha ao conectar com a Lum.dll: " + jov::cp1252::ForLog(erro.what()));
    Log(" ----         : " + jov::cp1252::ForLog(jov::ReasonOf(erro)));
  }
}

void TfrmEscolheSistema::netLocalCacheBeforeConnect(QObject*) {
  netLocalCache->Host = services_.library.WebURL();
  netLocalCache->Port = services_.library.WebPort();
}

void TfrmEscolheSistema::adcBaixaDadosBeforeConnect(QObject*) {
  adcBaixaDados->ConnectionString = services_.library.ConnectionString();
}

void TfrmEscolheSistema::adcBaixaDadosAfterConnect(QObject*) {
  Jov_calvora::SetADODBSession(adcBaixaDados->Session());
}

}  // namespace Cli_jov00000
