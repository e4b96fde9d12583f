#pragma once

namespace kovra::buildinfo {

// What this build was configured with (compiled from a generated source, so a new
// build number rebuilds one file): the product version ("1.0.0") and the build
// number, empty when the build set none. UTF-8.
const char *version();
const char *number();

} // namespace kovra::buildinfo
