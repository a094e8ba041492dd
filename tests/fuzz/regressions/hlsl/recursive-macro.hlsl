#define A A B
#define B A
float4 VS() : SV_POSITION { return A; }
float4 PS() : SV_TARGET { return 0; }
