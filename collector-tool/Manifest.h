// The manifest sink's rows: one tab-separated line per record, and the
// rows of a folder's listing, which have the same shape for each path below.
#pragma once

#include "collector-tool/Record.h"

#include <string>

namespace tarnhollow::tool {

extern const char* const kManifestHeader;
std::string manifestRow(const Record& record);

extern const char* const kListingHeader;
std::string listingRow(const Node& node);

} // namespace tarnhollow::tool
