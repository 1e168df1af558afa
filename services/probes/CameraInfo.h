#pragma once

#include <string>
#include <vector>

namespace vorn {

// One listed video device, as the page receives it: devid, name, desc (UTF-8).
struct CameraInfo {
    std::string devid;
    std::string name;
    std::string desc;
};

using CameraList = std::vector<CameraInfo>;

}  // namespace vorn
