// What the file-checking tool prints for an accessory mesh: frames, meshes, materials, textures.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "formats/x_model.h"

namespace qv {

nlohmann::ordered_json XReportJson(const std::string& file, const XModel& model);
std::string XReportText(const std::string& file, const XModel& model);

}  // namespace qv
