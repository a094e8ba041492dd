// The one physics world every model shares, stepped at a fixed rate from frame time.
#pragma once

#include <memory>
#include <shared_mutex>

#include "platform/result_code.h"
#include "runtime/pose_math.h"

class btBroadphaseInterface;
class btCollisionDispatcher;
class btDefaultCollisionConfiguration;
class btDiscreteDynamicsWorld;
class btOverlapFilterCallback;
class btRigidBody;
class btSequentialImpulseConstraintSolver;

namespace qv {

// The one physics world every model's bodies live in: gravity, the ground
// plane y = 0 that every body touches, and a fixed step taken as often as a
// frame's time holds, from an accumulator of frame time.
class PhysicsWorld {
public:
    static constexpr float kDefaultStep = 1.0f / 60.0f;
    // The shortest step a saved setting may ask for: a thousand steps a
    // second is far past any use, and shorter steps would spend whole frames
    // stepping.
    static constexpr float kMinStep = 1.0f / 1000.0f;
    // Marks, in its collision group, a body that starts wholly below the
    // ground: content uses such bodies as far-away counterweights (no floor
    // exists where it is authored), and the plane would tear them upwards.
    // Model masks are 16 bits wide, so no body ever selects this bit.
    static constexpr int kBelowGroundGroup = 1 << 20;
    static constexpr float kGravityY = -9.81f;
    // The most steps one frame takes. Every step costs frame time, so a
    // player that always caught up would make a slow frame slower still and
    // never recover; four steps keep bodies in real time down to 15 frames a
    // second, and below that they lose the time past the cap instead.
    static constexpr int kMaxStepsPerFrame = 4;
    // A time that lands on a step but for float rounding counts as reaching
    // it, in steps: a thousandth of a step is far above the rounding of
    // summed frame times and far below a frame. The live and the offline
    // clock share it, so both take the same steps.
    static constexpr float kStepTolerance = 1e-3f;

    PhysicsWorld();
    ~PhysicsWorld();
    PhysicsWorld(const PhysicsWorld&) = delete;
    PhysicsWorld& operator=(const PhysicsWorld&) = delete;

    btDiscreteDynamicsWorld& world() { return *world_; }
    const btRigidBody& groundPlane() const { return *ground_; }

    // Readers (a step) take it shared; changes to the set of bodies or their
    // kinds (model creation and removal, the physics switch) take it exclusive.
    std::shared_mutex lock;

    float stepSeconds = kDefaultStep;
    float accumulator = 0.0f;

    // Edit values of the physics settings window, applied every frame once saved.
    Vector4 gravitySetting{0.0f, kGravityY, 0.0f, 0.0f};
    float stepSetting = kDefaultStep;
    bool settingsSaved = false;

    Vector4 Gravity() const;
    void SetGravity(const Vector4& gravity);

private:
    std::unique_ptr<btDefaultCollisionConfiguration> configuration_;
    std::unique_ptr<btCollisionDispatcher> dispatcher_;
    std::unique_ptr<btBroadphaseInterface> broadphase_;
    std::unique_ptr<btOverlapFilterCallback> filter_;
    std::unique_ptr<btSequentialImpulseConstraintSolver> solver_;
    std::unique_ptr<btDiscreteDynamicsWorld> world_;
    btRigidBody* ground_ = nullptr;
};

// Creates the process-wide world (gravity (0, -9.81, 0), step 1/60 s, the
// ground plane with friction 0.5 and restitution 0.6).
HRESULT CreatePhysicsScene(std::unique_ptr<PhysicsWorld>& world);

// Adds a frame's time to the accumulator and takes out the whole steps it
// holds, at most kMaxStepsPerFrame: a backlog past the cap is dropped, less
// than a step waits for the next frame. Returns the number of steps the
// caller is to take; takes none itself. A time that is not a finite
// number of seconds, or is negative, counts as 0.
int DueSteps(PhysicsWorld& world, float deltaSeconds);

// DueSteps, then those steps one after another, for a caller whose
// kinematic bodies stay where they are during the frame (one step a frame
// at the step rate). Returns the number of steps taken.
int StepPhysics(PhysicsWorld& world, float deltaSeconds);

// One fixed step of stepSeconds whatever the accumulator holds, for a clock
// that decides itself how many steps a span of time needs.
void TakePhysicsStep(PhysicsWorld& world);

// Once the settings window has been saved: gravity from the setting every
// frame; a new step time restarts the accumulator. A step that is not a
// positive finite number of seconds is ignored; one shorter than kMinStep
// becomes kMinStep.
void ApplyPhysicsSettings(PhysicsWorld& world);

// What the settings window shows when it opens.
void LoadPhysicsSettings(PhysicsWorld& world);

}  // namespace qv
