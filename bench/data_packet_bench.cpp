// The data packet reader on 64 MiB packets, beside QXmlStreamReader reading the same bytes
// (every token, every attribute's value), in two shapes: many short rows, as a large
// "Mercato.cds" holds them, and one row with as many attributes as a packet may define fields,
// each value long.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QXmlStreamReader>
#include <string>

#include "platform/data_packet.h"

namespace {

// Just under the reader's limit.
constexpr std::size_t kTarget = jov::kMaxDataPacketBytes - (64u << 10);

std::string Prolog(const std::string& fields) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n" +
         fields + "</FIELDS><PARAMS/></METADATA><ROWDATA>\n";
}

const std::string& ManyRows() {
  static const std::string xml = [] {
    std::string text = Prolog(
        "<FIELD attrname=\"CODFILIAL\" fieldtype=\"i4\"/>\n"
        "<FIELD attrname=\"CODCAIXA\" fieldtype=\"i4\"/>\n"
        "<FIELD attrname=\"DESCRICAO\" fieldtype=\"string\" WIDTH=\"60\"/>\n"
        "<FIELD attrname=\"IP\" fieldtype=\"string\" WIDTH=\"15\"/>\n");
    for (int i = 0; text.size() < kTarget; ++i) {
      text += "<ROW RowState=\"4\" CODFILIAL=\"" + std::to_string(i % 900) + "\" CODCAIXA=\"" +
              std::to_string(i % 40) + "\" DESCRICAO=\"Caixa " + std::to_string(i) +
              " da filial S\xC3\xA3o Jo\xC3\xA3o &amp; Cia\" IP=\"10.1." + std::to_string(i % 250) +
              ".7\"/>\n";
    }
    return text + "</ROWDATA></DATAPACKET>\n";
  }();
  return xml;
}

const std::string& OneWideRow() {
  static const std::string xml = [] {
    constexpr int kFields = 4096;  // as many as a packet may define
    std::string fields;
    for (int i = 0; i < kFields; ++i) {
      fields += "<FIELD attrname=\"CAMPO" + std::to_string(i) + "\" fieldtype=\"string\"/>\n";
    }
    std::string text = Prolog(fields);
    const std::size_t value_size = (kTarget - 2 * text.size()) / kFields - 20;
    std::string value;
    while (value.size() < value_size)
      value +=
          "Pre\xC3\xA7o m\xC3\xA9"
          "dio &#233; ";
    value.resize(value_size - value_size % 16);
    text += "<ROW";
    for (int i = 0; i < kFields; ++i) text += " CAMPO" + std::to_string(i) + "=\"" + value + "\"";
    return text + "/>\n</ROWDATA></DATAPACKET>\n";
  }();
  return xml;
}

void Parse(benchmark::State& state, const std::string& xml) {
  for (auto _ : state) benchmark::DoNotOptimize(jov::ParseDataPacket(xml, "bench"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

void StreamRead(benchmark::State& state, const std::string& xml) {
  const QByteArray bytes = QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size()));
  for (auto _ : state) {
    QXmlStreamReader reader(bytes);
    qsizetype seen = 0;
    while (!reader.atEnd()) {
      if (reader.readNext() == QXmlStreamReader::StartElement) {
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
          seen += attribute.value().size();
        }
      }
    }
    if (reader.hasError()) state.SkipWithError(reader.errorString().toStdString().c_str());
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

void BM_ManyRows_DataPacketReader(benchmark::State& state) { Parse(state, ManyRows()); }
void BM_ManyRows_QXmlStreamReader(benchmark::State& state) { StreamRead(state, ManyRows()); }
void BM_OneWideRow_DataPacketReader(benchmark::State& state) { Parse(state, OneWideRow()); }
void BM_OneWideRow_QXmlStreamReader(benchmark::State& state) { StreamRead(state, OneWideRow()); }
BENCHMARK(BM_ManyRows_DataPacketReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyRows_QXmlStreamReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneWideRow_DataPacketReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneWideRow_QXmlStreamReader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
