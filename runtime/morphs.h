#pragma once

#include <string>

struct ModelInstance;
struct PmxModel;

// One slider of the model setting window, bound to a morph weight.
struct MorphControl {
    std::string name;  // UTF-8
    std::string kind;  // "Vertex" or "UV"
    float* weight = nullptr;
};

// Builds the weights, the name map, the controls and the dense offset tables
// of the vertex (kind 1) and UV (kind 3) morphs. Other kinds get nothing.
// Offsets that name a vertex outside the model are dropped.
void BuildMorphs(ModelInstance& instance, const PmxModel& model);
