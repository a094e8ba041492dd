// Accessory meshes turned into the one-bone models the renderer draws.
#pragma once

#include "formats/pmx_model.h"
#include "formats/x_model.h"

namespace qv {

// A rigid one-bone model holding every mesh of `mesh` in its frames' places,
// with one material per mesh material that has triangles, drawn the way
// accessories are: no edge, lit by the scene, casting into the shadow map and
// onto the ground and receiving the self-shadow, the emissive colour as the
// ambient term, no toon ramp. Meshes without normals get smooth ones made
// from their faces. Every texture and sphere map named is listed once,
// found or not: loading the textures marks and reports the missing ones.
PmxModel AccessoryModel(const XModel& mesh);

}  // namespace qv
