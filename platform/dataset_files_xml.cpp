#include "platform/dataset_files_xml.h"

#include "platform/errors.h"

namespace jov {

Dataset DatasetFilesXml::Load(const std::string& path) {
  throw Error("Cannot load " + path + ": not available");
}
void DatasetFilesXml::Save(const std::string& path, const Dataset&) {
  throw Error("Cannot save " + path + ": not available");
}

}  // namespace jov
