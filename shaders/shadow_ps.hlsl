// The shadow map's caster test: cut-out texels and faded materials cast nothing.
#include "constants.hlsli"
#include "material_common.hlsli"

// Depth comes from the rasteriser; this only drops the pixels that the main
// pass would not draw either, so lace, hair cards and leaves cast the shadow
// of their cut-out.
void main(PS_INPUT input) {
    MaterialColour(input.uv);
}
