#include "util/content_hash.h"

#include <xxhash.h>

namespace vellomar {

uint64_t contentHash(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

}  // namespace vellomar
