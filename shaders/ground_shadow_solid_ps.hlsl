// The ground shadow's colour where nothing is cut out: no test, so the stencil
// can turn away a pixel already darkened before this program runs.
#include "constants.hlsli"
#include "ground_shadow.hlsli"

float4 main() : SV_TARGET {
    return kGroundShadowColour;
}
