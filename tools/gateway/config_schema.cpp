#include "config_schema.h"

#include <algorithm>
#include <memory>
#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

namespace tk571::gateway {
namespace {

// valijson names places as "<root>", "[lines]", "[0]"; a JSON Pointer reads
// "/lines/0".
std::string PointerOf(const std::vector<std::string>& context) {
  std::string pointer;
  for (const std::string& part : context) {
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']') {
      pointer += "/" + part.substr(1, part.size() - 2);
    }
  }
  return pointer.empty() ? "/" : pointer;
}

}  // namespace

std::vector<std::string> CheckSchema(const nlohmann::json& document) {
  static const nlohmann::json schema_document = nlohmann::json::parse(ConfigSchemaText());
  static const std::unique_ptr<valijson::Schema> schema = [] {
    auto s = std::make_unique<valijson::Schema>();
    valijson::SchemaParser parser;
    valijson::adapters::NlohmannJsonAdapter adapter(schema_document);
    parser.populateSchema(adapter, *s);
    return s;
  }();

  valijson::Validator validator;
  valijson::ValidationResults results;
  valijson::adapters::NlohmannJsonAdapter target(document);
  if (validator.validate(*schema, target, &results)) return {};

  std::vector<std::string> messages;
  valijson::ValidationResults::Error error;
  while (results.popError(error)) {
    // A failure inside an item is also reported for every object and array
    // around it; those reports only say where to look.
    if (error.description.rfind("Failed to validate against schema associated", 0) == 0 ||
        error.description.rfind("Failed to validate item #", 0) == 0) {
      continue;
    }
    std::string message = PointerOf(error.context) + ": " + error.description;
    if (std::find(messages.begin(), messages.end(), message) == messages.end()) {
      messages.push_back(std::move(message));
    }
  }
  return messages;
}

}  // namespace tk571::gateway
