#include "platform/errors.h"

#include <new>
#include <system_error>

#include "platform/cp1252.h"
#include "platform/system_text.h"

namespace jov {
namespace {

// A size as the log gives limits: whole MiB or KiB when it is one, else bytes.
std::string Size(std::int64_t bytes) {
  if (bytes > 0 && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes > 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

// ": " + text, or nothing when there is no text.
std::string After(const std::string& text) { return text.empty() ? text : ": " + text; }

// A registry value: its name (or the default value's) and its key.
std::string Value(const ErrorContext& c) {
  return "'" + (c.subject.empty() ? "(Padrão)"_w : c.subject) + "' em HKEY_LOCAL_MACHINE\\" +
         c.other;
}

std::string Render(Cause cause, const ErrorContext& c) {
  const std::string& s = c.subject;
  switch (cause) {
    case Cause::kUnspecified:
      return "falha interna inesperada";
    case Cause::kCannotOpen:
      return "não foi possível abrir "_w + s + After(c.detail);
    case Cause::kCannotOpenFile:
      return s + ": o arquivo não pôde ser aberto"_w + After(c.detail);
    case Cause::kCannotRead:
      return "não foi possível ler "_w + s + After(c.detail);
    case Cause::kCannotWrite:
      return "não foi possível gravar "_w + s + After(c.detail);
    case Cause::kCannotWriteBeside:
      return "não foi possível gravar ao lado de "_w + s + After(c.detail);
    case Cause::kCannotCopy:
      return "não foi possível copiar "_w + s + (c.other.empty() ? "" : " para " + c.other) +
             After(c.detail);
    case Cause::kCannotReplace:
      return "não foi possível substituir "_w + s + After(c.detail);
    case Cause::kCannotMove:
      return "não foi possível mover "_w + s + " para " + c.other + After(c.detail);
    case Cause::kCannotSetTime:
      return "não foi possível mudar a data de "_w + s + After(c.detail);
    case Cause::kNotRegular:
      return s + ": não é um arquivo comum"_w;
    case Cause::kTooLarge:
      return s + ": o arquivo passa do limite de " + Size(c.number);
    case Cause::kCannotRun:
      return "não foi possível executar "_w + s + After(c.detail);
    case Cause::kNoBatchFile:
      return "não foi possível executar "_w + s + ": nenhum arquivo de comandos foi indicado"_w;
    case Cause::kModuleLoad:
      return "o módulo "_w + s + " não pôde ser carregado"_w + After(c.detail);
    case Cause::kModuleNoEntry:
      return "o módulo "_w + s + " não tem a entrada "_w + c.other;
    case Cause::kPacketTooLarge:
      return s + ": o pacote de dados passa de "_w + std::to_string(c.number) + " bytes";
    case Cause::kPacketMalformed:
      return s + ": o pacote de dados está malformado (linha "_w + std::to_string(c.number) +
             ", coluna " + c.other + ")";
    case Cause::kPacketTextHasNul:
      return "o pacote de dados não pode ser gravado: um texto contém o caractere NUL"_w;
    case Cause::kPacketFieldTwice:
      return "o pacote de dados não pode ser gravado: o campo "_w + s +
             " está definido duas vezes"_w;
    case Cause::kPacketFieldReserved:
      return "o pacote de dados não pode ser gravado: o nome de campo \""_w + s +
             "\" não pode levar um valor"_w;
    case Cause::kSettingInvalid:
      return "o valor '" + s + "' da configuração "_w + c.other + " não é válido"_w;
    case Cause::kDatabaseConnect:
      return "não foi possível conectar ao banco de dados "_w + s + After(c.detail);
    case Cause::kDatabaseNotConnected:
      return "sem conexão com o banco de dados"_w;
    case Cause::kDatabaseFailed:
      return "o banco de dados recusou o comando"_w + After(c.detail);
    case Cause::kQueryWithoutConnection:
      return "a consulta não tem conexão com o banco de dados"_w;
    case Cause::kFieldMissing:
      return "o campo " + s + " não veio nos dados do servidor"_w;
    case Cause::kColumnMissing:
      return "a coluna " + s + " não veio na consulta ao banco de dados"_w;
    case Cause::kFieldNotInteger:
      return "o campo " + s + " do servidor não é um número inteiro: '"_w + c.detail + "'";
    case Cause::kServerAddressInvalid:
      return "o endereço do servidor não é válido"_w;
    case Cause::kNotConnected:
      return s.empty() ? "sem conexão com o servidor"_w
                       : "a conexão com "_w + s + " não está aberta"_w;
    case Cause::kServerStalled:
      return "o servidor parou de responder antes nesta partida ("_w + c.detail + ")";
    case Cause::kExchangeFailed:
      return c.detail;
    case Cause::kServerStatus:
      return "o servidor respondeu HTTP " + std::to_string(c.number) +
             (s.empty() ? "" : " para " + s);
    case Cause::kServerError:
      return "o servidor respondeu com erro: " + c.detail;
    case Cause::kReplyTooDeep:
      return "a resposta tem mais de "_w + std::to_string(c.number) + " níveis"_w;
    case Cause::kReplyNotJson:
      return "a resposta não é JSON válido"_w;
    case Cause::kReplyNoResult:
      return "a resposta não traz o texto \"result\""_w;
    case Cause::kRegistryKeyEmptyName:
      return "a chave do registro '" + s + "' não é válida: nome vazio"_w;
    case Cause::kRegistryKeyInvalid:
      return "a chave do registro '" + s + "' não é válida"_w;
    case Cause::kRegistryTextRefused:
      return "o registro não guarda um texto com quebra de linha ou NUL: "_w + c.detail;
    case Cause::kHiveTooLarge:
      return "o registro "_w + s + " está corrompido: passa de "_w + Size(c.number);
    case Cause::kHiveCorrupt:
      return "o registro "_w + s + " está corrompido na linha "_w + std::to_string(c.number);
    case Cause::kHiveNotRegular:
      return "o registro "_w + s + " não é um arquivo comum"_w;
    case Cause::kHiveUnreadable:
      return "o registro "_w + s + " não pode ser lido: "_w + c.detail;
    case Cause::kHiveUnwritable:
      return "o registro "_w + s + " não pode ser gravado: "_w +
             (c.other.empty() ? "" : c.other + ": ") + c.detail;
    case Cause::kHiveFolderUnwritable:
      return "o registro "_w + s + " não pode ser gravado: a pasta "_w + c.other + After(c.detail);
    case Cause::kHiveLockNotRegular:
      return "o registro "_w + s + " não pode ser gravado: "_w + c.other +
             " não é um arquivo comum"_w;
    case Cause::kHiveCannotLock:
      return "o registro "_w + s + " não pôde ser bloqueado para gravação: "_w + c.detail;
    case Cause::kHiveLocked:
      return "o registro "_w + s + " está bloqueado por outro programa"_w;
    case Cause::kHiveReadOnly:
      return "o registro "_w + s + " é somente leitura"_w;
    case Cause::kHiveWouldGrow:
      return "o registro "_w + s + " passaria do limite de " + Size(c.number) +
             "; o valor não foi gravado"_w;
    case Cause::kValueMissing:
      return "o valor "_w + Value(c) + " não existe no registro"_w;
    case Cause::kValueKeyMissing:
      return "o valor "_w + Value(c) + " não pode ser gravado: a chave não existe"_w;
    case Cause::kValueNotText:
      return "o valor "_w + Value(c) + " do registro não é um texto"_w;
    case Cause::kValueNotInteger:
      return "o valor "_w + Value(c) + " do registro não é um número inteiro"_w;
    case Cause::kWorkFolderNotMade:
      return "a pasta de trabalho "_w + s + " não pôde ser criada"_w + After(c.detail);
    case Cause::kWorkFolderNotFolder:
      return "a pasta de trabalho "_w + s + " não é uma pasta"_w;
    case Cause::kWorkFolderOtherOwner:
      return "a pasta de trabalho "_w + s + " pertence a outro usuário"_w;
    case Cause::kWorkFolderOpenToOthers:
      return "a pasta de trabalho "_w + s + " pode ser gravada por outros usuários"_w;
    case Cause::kWorkFolderFull:
      return "sem espaço na pasta de trabalho "_w + s;
    case Cause::kWorkFolderWrite:
      return "a gravação na pasta de trabalho falhou"_w + After(c.detail);
    case Cause::kWorkFolderCreateFile:
      return "não foi possível criar um arquivo na pasta de trabalho "_w + s + After(c.detail);
    case Cause::kPublicKeyInvalid:
      return "a chave pública de clientlib.ini não é válida"_w;
    case Cause::kPublicKeyNotEd25519:
      return "a chave pública de clientlib.ini não é uma chave Ed25519"_w;
    case Cause::kSignatureEmpty:
      return "a assinatura está vazia"_w;
    case Cause::kSignatureMalformed:
      return "a assinatura não é válida (não são 64 bytes em base64)"_w;
    case Cause::kSignatureCheckSetup:
      return "a verificação da assinatura não pôde ser preparada"_w;
    case Cause::kSignatureMismatch:
      return "a assinatura não confere com o arquivo"_w;
    case Cause::kSignatureTooLarge:
      return "a assinatura no servidor tem mais de "_w + Size(c.number);
    case Cause::kSignatureMissing:
      return "o servidor não tem a assinatura "_w + s + ".sig (HTTP " + std::to_string(c.number) +
             ")";
    case Cause::kStampInvalid:
      return "a data '"_w + c.detail + "' enviada pelo servidor não é válida"_w;
    case Cause::kArchiveNotZip:
      return "o que o servidor enviou não é um arquivo compactado zip válido"_w;
    case Cause::kArchiveCorrupt:
      return "o arquivo compactado recebido está corrompido"_w;
    case Cause::kArchiveCrc:
      return "o arquivo compactado recebido está corrompido (CRC)"_w;
    case Cause::kArchiveTooLarge:
      return "o arquivo compactado passou do limite de "_w + Size(c.number);
    case Cause::kArchiveNoEntry:
      return "o arquivo compactado não contém "_w + s;
    case Cause::kProgramTooLarge:
      return "o programa passou do limite de "_w + Size(c.number);
    case Cause::kHashSetup:
      return "o sha256 do arquivo não pôde ser calculado"_w;
    case Cause::kDownloadUnreadable:
      return "o arquivo baixado não pôde ser lido"_w + After(c.detail);
    case Cause::kPartialNotKept:
      return "o download parcial não pôde ser gravado"_w + After(c.detail);
    case Cause::kReleaseMissing:
      return "o servidor não tem a publicação "_w + s + ", exigida desde que a versão "_w +
             std::to_string(c.number) + " foi instalada"_w;
    case Cause::kReleaseSignatureMissing:
      return "o servidor não tem a assinatura da publicação "_w + s;
    case Cause::kReleaseSignatureRefused:
      return "a assinatura da publicação foi recusada"_w + After(c.detail);
    case Cause::kReleaseMalformed:
      return c.detail.empty() ? "a publicação não é válida"_w : c.detail;
    case Cause::kReleaseOtherFile:
      return "a publicação é de "_w + s + ", não de "_w + c.other;
    case Cause::kReleaseSizeMismatch:
      return "o arquivo compactado tem "_w + std::to_string(c.number) +
             " bytes e a publicação diz "_w + c.other;
    case Cause::kReleaseShaMismatch:
      return "o sha256 do arquivo compactado não é o da publicação"_w;
    case Cause::kReleaseExpired:
      return "a publicação expirou em "_w + s;
    case Cause::kReleaseOlder:
      return "a versão "_w + std::to_string(c.number) + " publicada é anterior à instalada ("_w +
             c.other + ")";
    case Cause::kReleaseSameVersionOtherBytes:
      return "a versão "_w + std::to_string(c.number) +
             " publicada já está instalada com outro conteúdo (sha256 diferente)"_w;
    case Cause::kReleaseTooLarge:
      return "a publicação tem mais de "_w + Size(c.number);
    case Cause::kReleaseSignatureTooLarge:
      return "a assinatura da publicação no servidor tem mais de "_w + Size(c.number);
    case Cause::kReleaseNotRemoved:
      return "a publicação anterior não pôde ser apagada da pasta de trabalho"_w + After(c.detail);
    case Cause::kRecordNotJsonObject:
      return s + " não é um objeto JSON"_w;
    case Cause::kRecordBadVersion:
      return s + ": a versão de um programa não é um inteiro positivo"_w;
    case Cause::kRecordBadHash:
      return s + ": o sha256 de um programa não tem 64 dígitos hexadecimais"_w;
    case Cause::kVersionsUnreadable:
      return "os registros de versão não puderam ser lidos ("_w + c.detail +
             "); nenhuma versão é instalada até que sejam corrigidos ou apagados"_w;
  }
  return "falha interna inesperada";
}

}  // namespace

std::string RenderReason(Cause cause, const ErrorContext& context) {
  const std::string words = Render(cause, context);
  return context.file.empty() ? words : context.file + ": " + words;
}

std::string ReasonOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const Error*>(&failure)) return error->reason();
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    return "falha interna: memória insuficiente"_w;
  }
  if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
    const std::error_code code = system->code();
    // Only the system's own numbers have a text in the register's language.
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
      return "falha interna: " + SystemErrorText(code.value());
    }
  }
  return "falha interna inesperada";
}

}  // namespace jov
