#pragma once

#include <string_view>

namespace vorn {

// True when one of the '/'-separated segments of `path` is exactly "..".
inline bool HasParentSegment(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace vorn
