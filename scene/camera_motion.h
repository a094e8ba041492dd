// Camera, light and self-shadow keys of a VMD motion, evaluated at a frame and applied to the
// scene.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formats/vmd_motion.h"
#include "runtime/pose_math.h"
#include "scene/camera.h"

namespace qv {

// Where a camera motion puts the camera: it looks at target from distance
// along its view axis (negative in front of the stage, as content stores
// it), turned by rotation (radians: x pitch, y yaw, z roll).
struct CameraMotionPose {
    Vector4 target;
    Vector4 rotation;
    float distance = 0.0f;
    float fovY = 0.0f;  // radians
    bool perspective = true;
};

// The keys of one kind in time order (file order among equal frames).
std::vector<VmdCameraKey> SortedByFrame(std::vector<VmdCameraKey> keys);
std::vector<VmdLightKey> SortedByFrame(std::vector<VmdLightKey> keys);
std::vector<VmdShadowKey> SortedByFrame(std::vector<VmdShadowKey> keys);

// The camera at a time in VMD frames (keys sorted). Between two keys each of
// the six values (target X, Y, Z, rotation, distance, view angle) follows its
// own Bezier curve, the one stored with the later key (24 bytes: four per
// curve, x1, x2, y1, y2, each v / 127), with time read through the curve's x
// and the value through its y. Keys one frame apart are a cut: the earlier
// key holds until the later one. Before the first key the first holds, after
// the last the last. False without keys.
bool EvaluateCameraKeys(std::span<const VmdCameraKey> keys, float frame, CameraMotionPose* pose);

// Light colour and direction, linear between keys; false without keys.
bool EvaluateLightKeys(std::span<const VmdLightKey> keys, float frame, Vector4* color,
                       Vector4* direction);

// The self-shadow key in force (each holds until the next); false without keys.
bool EvaluateShadowKeys(std::span<const VmdShadowKey> keys, float frame, VmdShadowKey* key);

// Puts the camera where the pose says: eye, target, view and projection. The
// orbit state (angles, zoom, pan) is left alone, so UpdateCamera brings the
// orbit camera back.
void ApplyCameraPose(Camera& camera, const CameraMotionPose& pose);

// The eased fraction of a segment: the fraction read through the x of the
// Bezier curve with control points (x1, y1) and (x2, y2), its y returned.
float BezierEase(float x1, float y1, float x2, float y2, float fraction);

}  // namespace qv
