// One JSON object per line, for the tool's machine-readable output.

#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace korvalin::cli {

// Members in the order they were added, as the tool has always printed them.
using TJson = nlohmann::ordered_json;

// One JSON text on one line; a byte that is not valid UTF-8 becomes U+FFFD so
// the line always parses.
inline std::string JsonLine(const TJson& value) {
    return value.dump(-1, ' ', false, TJson::error_handler_t::replace) + '\n';
}

}  // namespace korvalin::cli
