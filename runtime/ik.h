// Sets up each model's IK chains and solves one chain per frame for the pose pipeline.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct BoneState;
struct ModelInstance;
struct PmxModel;

// One row of the IK list of the model setting window.
struct IkControl {
    std::string name;  // UTF-8
    std::uint8_t* ikEnabled = nullptr;
};

// Fills the IK fields of every bone with the IK flag and the instance's IK
// list. Runs after the skeleton and the bodies exist: a chain with a missing
// link bone or a link driven by a simulated body stays disabled.
void BuildIk(ModelInstance& instance, const PmxModel& model);

// What a solve refreshes of the bones below a link each time it turns one:
// only the world values the next turns read (the default; the solve brings
// the turned subtrees wholly up to date once it ends), or every bone in full,
// the plain form that the default must match bit for bit.
enum class IkRefresh : std::uint8_t { WhatTheSolveReads, Everything };

// One cyclic-coordinate-descent solve of ikBone's chain, turning the links so
// that the target bone's joint moves towards ikBone's joint, for at most
// ikLoopCount iterations (and never more than 4096). Needs the chain's world
// values to be current; leaves every turned subtree current.
void SolveIk(BoneState& ikBone, IkRefresh refresh = IkRefresh::WhatTheSolveReads);

}  // namespace qv
