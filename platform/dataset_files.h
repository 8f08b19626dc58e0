// Client dataset files: the point-of-sale data file and the typed-codes file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace jov {

struct DatasetField {
  std::string name;
  std::string type;  // "string" or "i4"
  int width = 0;
};

// A dataset as its file holds it; a row maps field names (upper case) to text, absent = NULL.
struct Dataset {
  std::vector<DatasetField> fields;
  std::vector<std::map<std::string, std::optional<std::string>>> rows;
};

class DatasetFiles {
 public:
  virtual ~DatasetFiles() = default;
  // Loads the whole file; throws Error naming the file when it is missing or malformed.
  virtual Dataset Load(const std::string& path) = 0;
  // Writes the dataset, replacing the file; throws Error naming the file on failure.
  virtual void Save(const std::string& path, const Dataset& data) = 0;
};

}  // namespace jov
