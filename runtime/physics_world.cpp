// The shared world: collision filter by group and mask, the ground plane, a fixed step.
#include "runtime/physics_world.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace qv {

namespace {

constexpr float kGroundFriction = 0.5f;
constexpr float kGroundRestitution = 0.6f;

// Bodies collide when each one's group is in the other's mask, the way PMX
// content is authored; the ground plane touches every body whatever its mask,
// except bodies that were authored below it.
class ModelFilter : public btOverlapFilterCallback {
public:
    explicit ModelFilter(const btCollisionObject* ground) : ground_(ground) {}
    bool needBroadphaseCollision(btBroadphaseProxy* a, btBroadphaseProxy* b) const override {
        const auto* objectA = static_cast<const btCollisionObject*>(a->m_clientObject);
        const auto* objectB = static_cast<const btCollisionObject*>(b->m_clientObject);
        if (objectA == ground_) {
            return (b->m_collisionFilterGroup & PhysicsWorld::kBelowGroundGroup) == 0;
        }
        if (objectB == ground_) {
            return (a->m_collisionFilterGroup & PhysicsWorld::kBelowGroundGroup) == 0;
        }
        return (a->m_collisionFilterGroup & b->m_collisionFilterMask) != 0 &&
               (b->m_collisionFilterGroup & a->m_collisionFilterMask) != 0;
    }

private:
    const btCollisionObject* ground_;
};

}  // namespace

PhysicsWorld::PhysicsWorld()
    : configuration_(std::make_unique<btDefaultCollisionConfiguration>()),
      dispatcher_(std::make_unique<btCollisionDispatcher>(configuration_.get())),
      broadphase_(std::make_unique<btDbvtBroadphase>()),
      solver_(std::make_unique<btSequentialImpulseConstraintSolver>()),
      world_(std::make_unique<btDiscreteDynamicsWorld>(dispatcher_.get(), broadphase_.get(),
                                                       solver_.get(), configuration_.get())) {
    world_->setGravity(btVector3(0.0f, kGravityY, 0.0f));

    auto* plane = new btStaticPlaneShape(btVector3(0, 1, 0), 0);
    btRigidBody::btRigidBodyConstructionInfo info(0.0f, nullptr, plane);
    info.m_friction = kGroundFriction;
    info.m_restitution = kGroundRestitution;
    ground_ = new btRigidBody(info);
    filter_ = std::make_unique<ModelFilter>(ground_);
    world_->getPairCache()->setOverlapFilterCallback(filter_.get());
    world_->addRigidBody(ground_, btBroadphaseProxy::AllFilter, btBroadphaseProxy::AllFilter);
}

PhysicsWorld::~PhysicsWorld() {
    // Models release their own bodies; anything still here is the ground or
    // belongs to a model that outlived the world, which must not happen.
    world_->removeRigidBody(ground_);
    delete ground_->getCollisionShape();
    delete ground_;
}

Vector4 PhysicsWorld::Gravity() const {
    const btVector3 g = world_->getGravity();
    return {g.x(), g.y(), g.z(), 0.0f};
}

void PhysicsWorld::SetGravity(const Vector4& gravity) {
    world_->setGravity(btVector3(gravity.x, gravity.y, gravity.z));
}

HRESULT CreatePhysicsScene(std::unique_ptr<PhysicsWorld>& world) {
    world = std::make_unique<PhysicsWorld>();
    return S_OK;
}

int DueSteps(PhysicsWorld& world, float deltaSeconds) {
    if (!std::isfinite(deltaSeconds) || deltaSeconds < 0.0f) {
        deltaSeconds = 0.0f;
    }
    world.accumulator += deltaSeconds;
    const float cap = static_cast<float>(PhysicsWorld::kMaxStepsPerFrame);
    if (world.accumulator >= world.stepSeconds * (cap + 1.0f)) {
        // The dropped steps are the oldest: the ones taken end at the
        // frame's end, and the part step still waits.
        world.accumulator =
            std::fmod(world.accumulator, world.stepSeconds) + world.stepSeconds * cap;
    }
    const float due = world.stepSeconds * (1.0f - PhysicsWorld::kStepTolerance);
    int steps = 0;
    while (due <= world.accumulator && steps < PhysicsWorld::kMaxStepsPerFrame) {
        world.accumulator = std::max(world.accumulator - world.stepSeconds, 0.0f);
        ++steps;
    }
    world.accumulator = std::min(world.accumulator, world.stepSeconds);
    return steps;
}

int StepPhysics(PhysicsWorld& world, float deltaSeconds) {
    const int steps = DueSteps(world, deltaSeconds);
    for (int i = 0; i < steps; ++i) {
        TakePhysicsStep(world);
    }
    return steps;
}

void TakePhysicsStep(PhysicsWorld& world) {
    std::shared_lock reading(world.lock);
    // One step of exactly stepSeconds: no sub-stepping, no interpolation.
    world.world().stepSimulation(world.stepSeconds, 0, world.stepSeconds);
}

void ApplyPhysicsSettings(PhysicsWorld& world) {
    if (!world.settingsSaved) {
        return;
    }
    const Vector4& g = world.gravitySetting;
    if (std::isfinite(g.x) && std::isfinite(g.y) && std::isfinite(g.z)) {
        world.SetGravity(g);
    }
    if (!std::isfinite(world.stepSetting) || world.stepSetting <= 0.0f) {
        return;
    }
    const float step = std::max(world.stepSetting, PhysicsWorld::kMinStep);
    if (step != world.stepSeconds) {
        world.accumulator = 0.0f;
        world.stepSeconds = step;
    }
}

void LoadPhysicsSettings(PhysicsWorld& world) {
    world.gravitySetting = world.Gravity();
    world.stepSetting = world.stepSeconds;
}

}  // namespace qv
