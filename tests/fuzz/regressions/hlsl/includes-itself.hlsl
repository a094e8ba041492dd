#include "includes-itself.hlsl"
float4 VS() : SV_POSITION { return 0; }
