// What the reader says of a model file cut short, as the tests expect it.
#pragma once

#include <string>
#include <vector>

#include "tests/support/model_builder.h"

namespace ulv {

inline const std::string kNoMesh = "Not a valid model file! Unable to find MESH section!";
inline const std::string kNoSection =
    "Not a valid model file! Unable to find valid mesh section header!";
inline const std::string kTruncated = "Not a valid model file! Unexpected end of file!";

// A model's bytes, and for each shorter length the message of the file cut
// there: a missing tag where the cut falls before a block's tag is complete,
// the end of file inside a header or an array.
struct Prefixes {
    Bytes bytes;
    std::vector<std::string> messages;
};

Prefixes prefixesOf(const Model& model);

} // namespace ulv
