// DirectX text meshes written by the tests: one of every block kind the reader takes.
#pragma once

#include <string>

namespace qv {

// A unit cube (corners at -1 and 1) of six quads with per-face texture
// coordinates and normals, one material textured with `texture`.
std::string XTexturedCube(const std::string& texture = "cube.png");

// Root (moved up by 1) holding Child (scaled by 2) holding one triangle at
// (0,0,0), (1,0,0), (0,1,0); a second triangle mesh sits at the top level.
std::string XFrameHierarchy();

// One hexagon in the y = 0 plane (a six-corner polygon, fanned into four
// triangles) and a quad beside it, with two materials: the hexagon red, the
// quad green and half transparent.
std::string XPolygonFan();

// A sphere-ish octahedron whose two materials are "base.png*env.sph"
// (texture and multiplying sphere map) and "glow.spa" (an adding sphere map
// alone), the second referring to a named top-level material.
std::string XSphereMapped();

// Roughly `bytes` of text: a grid mesh with normals and coordinates, as a
// stage's floor is written, for the parse benchmark.
std::string XLargeGrid(std::size_t bytes);

}  // namespace qv
