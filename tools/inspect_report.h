// The report the file-checking tool prints for a file, as text or JSON, with its warnings.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"

namespace qv {

// What qv-inspect prints for one file: a readable summary, or one JSON object.
nlohmann::ordered_json PmxReportJson(const std::string& file, const PmxModel& model);
nlohmann::ordered_json VmdReportJson(const std::string& file, const VmdMotion& motion);
nlohmann::ordered_json FailureJson(const std::string& file, const std::string& error, HRESULT hr);

std::string PmxReportText(const std::string& file, const PmxModel& model);
std::string VmdReportText(const std::string& file, const VmdMotion& motion);

// One line per number of the file that was not finite (the reader took the
// field's neutral value).
std::vector<std::string> NonFiniteWarnings(const NonFiniteFields& nonFinite);

// One line per index that points outside the list it refers to.
std::vector<std::string> PmxIndexWarnings(const PmxModel& model);

}  // namespace qv
