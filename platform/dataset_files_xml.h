// DatasetFiles as XML data packets.
#pragma once

#include "platform/dataset_files.h"

namespace jov {

class DatasetFilesXml : public DatasetFiles {
 public:
  Dataset Load(const std::string& path) override;
  void Save(const std::string& path, const Dataset& data) override;
};

}  // namespace jov
