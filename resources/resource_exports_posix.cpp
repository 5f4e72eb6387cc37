// The exported resource lookups of the native library (see resource_exports.h).
// Nothing is thrown out of them: a failure reads as a missing resource.
#include "resources/resource_exports.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "resources/embedded_resources.h"

#define QZ_RESOURCE_EXPORT extern "C" __attribute__((visibility("default")))

QZ_RESOURCE_EXPORT int QzLoadString(unsigned id, char* buffer, int size) {
    if (buffer == nullptr || size < 1) return 0;
    buffer[0] = '\0';
    try {
        const std::string text = qz::EmbeddedResources().LoadNarrowString(id);
        const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    } catch (...) {
        return 0;
    }
}

QZ_RESOURCE_EXPORT const void* QzFindResource(unsigned type, unsigned id, unsigned* size) {
    if (size != nullptr) *size = 0;
    try {
        const qz::ResourceData found = qz::EmbeddedResources().Find(type, id);
        if (!found.found() || found.size > std::numeric_limits<unsigned>::max()) return nullptr;
        if (size != nullptr) *size = static_cast<unsigned>(found.size);
        return found.data;
    } catch (...) {
        return nullptr;
    }
}

QZ_RESOURCE_EXPORT unsigned QzEnumResourceIds(unsigned type, unsigned* ids, unsigned capacity) {
    try {
        const std::vector<unsigned> all = qz::EmbeddedResources().Ids(type);
        const std::size_t count = ids != nullptr ? std::min<std::size_t>(all.size(), capacity) : 0;
        for (std::size_t i = 0; i < count; ++i) ids[i] = all[i];
        return static_cast<unsigned>(all.size());
    } catch (...) {
        return 0;
    }
}
