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

// How a solve works. The default refreshes, each time a link turns, only the
// world values the next turns read (the turned subtrees are brought wholly up
// to date once it ends), and takes the last solve's rotations when the chain
// starts exactly where that solve started. Everything refreshes every bone in
// full and always solves: the plain form the default must match bit for bit.
enum class IkRefresh : std::uint8_t { WhatTheSolveReads, Everything };

// One cyclic-coordinate-descent solve of ikBone's chain, turning the links so
// that the target bone's joint moves towards ikBone's joint, for at most
// ikLoopCount iterations (and never more than 4096). Needs the chain's world
// values to be current; leaves every turned subtree current.
void SolveIk(BoneState& ikBone, IkRefresh refresh = IkRefresh::WhatTheSolveReads);

}  // namespace qv
