// A model's material records seen as the values the model setting window edits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/model_edits.h"

namespace qv {

struct ModelGpu;

// The material names in material order, as UTF-8.
std::vector<std::string> MaterialNames(const ModelGpu& model);
// False when `material` is out of range.
bool ReadMaterialValues(const ModelGpu& model, std::int32_t material, MaterialValues* out);
// Stores the values (checked again: nothing that is not a finite number
// reaches a constant buffer) for the uploads of the next frames. Between
// frames only; out-of-range indices are ignored.
void WriteMaterialValues(ModelGpu& model, std::int32_t material, const MaterialValues& values);

}  // namespace qv
