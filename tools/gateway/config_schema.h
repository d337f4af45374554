// The configuration's JSON Schema (config_schema.json, compiled in) and the
// check of a document against it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tk571::gateway {

// The text of config_schema.json as it was when the program was built.
std::string_view ConfigSchemaText();

// "/lines/0/baud: <what is wrong>", one per violation, the innermost place
// only; empty when the document conforms.
std::vector<std::string> CheckSchema(const nlohmann::json& document);

}  // namespace tk571::gateway
