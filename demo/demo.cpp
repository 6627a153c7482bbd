// demo.cpp - the show's set-up, its clock, the timeline and what each phase draws.
#include "demo/demo.h"

#include "image/image.h"
#include "mesh/mesh.h"
#include "motion/motion.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "show/show.h"
#include "sound/sound.h"

DemoState demoState;
void (*initSceneStepDone)(const char* step) = nullptr;

namespace {

constexpr int kControlPoints = 13;

// Path 1: from just behind the viewer, weaving into the distance.
Vec3* makePath1Points() {
    static const double table[kControlPoints][3] = {
        {0, 0, 5},       {-10, -1, 0},    {15, -2, -20},  {-15, -3, -40}, {0, -4, -60},
        {20, -5, -80},   {40, -6, -100},  {20, -7, -120}, {-40, -8, -140}, {-20, -9, -160},
        {0, -10, -180},  {30, -11, -200}, {40, -15, -220},
    };
    Vec3* points = new Vec3[kControlPoints];
    for (int i = 0; i < kControlPoints; ++i) {
        points[i].x = table[i][0];
        points[i].y = table[i][1];
        points[i].z = table[i][2];
    }
    return points;
}

// Path 2: straight up and down in front of the viewer.
Vec3* makePath2Points() {
    static const double ys[kControlPoints] = {-12, -10, -8, -6, -4, -3, 0, 3, 4, 6, 8, 10, 12};
    Vec3* points = new Vec3[kControlPoints];
    for (int i = 0; i < kControlPoints; ++i) {
        points[i].x = 0;
        points[i].y = ys[i];
        points[i].z = -20;
    }
    return points;
}

int32_t clampIndex(int64_t index) {
    if (index > show::kLastPathSample) return show::kLastPathSample;
    if (index < 0) return 0;
    return static_cast<int32_t>(index);
}

void placeMeshAtSample(DemoState& d) {
    const Vec3* p = d.path->pointAt(d.pathIndex);
    if (p) d.mesh->setPosition(static_cast<float>(p->x), static_cast<float>(p->y), static_cast<float>(p->z));
}

// The card: a square of side 2, 2.4 units in front of the eye.
void drawCardQuad() {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-1.0f, 1.0f, 0.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-1.0f, -1.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(1.0f, -1.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(1.0f, 1.0f, 0.0f);
    glEnd();
}

void releaseSceneObjects(DemoState& d) {
    delete d.mesh;
    d.mesh = nullptr;
    delete d.particles;
    d.particles = nullptr;
    delete d.path;
    d.path = nullptr;
    delete d.cubeMap;
    d.cubeMap = nullptr;
}

void stepDone(const char* step) {
    if (initSceneStepDone) initSceneStepDone(step);
}

}  // namespace

void resetDemo() {
    releaseSceneObjects(demoState);
    demoState = DemoState{};
}

Phase phaseAt(int32_t t) {
    if (t < show::kFlight1StartMs) return Phase::TitleCard;
    if (t < show::kFlight2StartMs) return Phase::FlightScene1;
    if (t < show::kEndCardStartMs) return Phase::FlightScene2;
    if (t < show::kEndMs) return Phase::EndCard;
    return Phase::Over;
}

// 64-bit arithmetic: a wild clock reading must not overflow before the clamp.
int32_t flightIndex1(int32_t t) { return clampIndex((static_cast<int64_t>(t) - show::kFlight1StartMs) / 11); }
int32_t flightIndex2(int32_t t) {
    return clampIndex(show::kLastPathSample - (static_cast<int64_t>(t) - show::kFlight2StartMs) / 12);
}

bool initScene() {
    DemoState& d = demoState;
    // A set-up after F1 replaces the earlier scene: nothing reads its objects
    // again, and their textures went with the old context. Freeing them first
    // lets the new ones take their place instead of growing the heap.
    releaseSceneObjects(d);

    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    stepDone("GL state");

    d.path = new BezierPath();
    Vec3* points = makePath1Points();
    stepDone("path");

    d.cubeMap = new EnvironmentCubeMap();
    stepDone("cube map");
    d.titleTexture = loadTexture(show::kTitleCardFile);
    stepDone("title card");
    d.endTexture = loadTexture(show::kEndCardFile);
    stepDone("end card");

    d.path->build(kControlPoints, points, show::kPathSamples);
    stepDone("path build");

    d.mesh = new Mesh(0.0f, -5.0f, -30.0f);
    stepDone("mesh");
    d.particles = new ParticleSystem(1000, Colour3f(1.0f, 0.0f, 0.0f), Vec3(0, 0, 7), Vec3(0, 0, 0.25),
                                     Vec3(0, 0, 0));
    stepDone("particles");

    if (!FSOUND_Init(show::kMixRate, 32, 0)) plat::endProcess(-1);
    d.musicStream = FSOUND_Stream_Open(show::kMusicFile, FSOUND_LOOP_OFF, 0, 0);
    FSOUND_Stream_Play(5, d.musicStream);
    stepDone("sound");

    glEnable(GL_TEXTURE_2D);
    return true;
}

bool drawScene() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    switch (phaseAt(FSOUND_Stream_GetTime(demoState.musicStream))) {
    case Phase::TitleCard:
        drawTitleCard();
        break;
    case Phase::FlightScene1:
        drawFlightScene1();
        break;
    case Phase::FlightScene2:
        drawFlightScene2();
        break;
    case Phase::EndCard:
        drawEndCard();
        break;
    case Phase::Over:
        plat::endProcess(0);
        break;
    }
    return true;
}

void drawTitleCard() {
    glTranslatef(0.0f, 0.0f, -2.4f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(demoState.titleTexture));
    drawCardQuad();
}

void drawEndCard() {
    // The flight scenes leave lighting on and the particles' colour current.
    glColor3f(1.0f, 1.0f, 1.0f);
    glDisable(GL_LIGHTING);
    glTranslatef(0.0f, 0.0f, -2.4f);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(demoState.endTexture));
    drawCardQuad();
}

void drawFlightScene1() {
    DemoState& d = demoState;
    d.pathIndex = flightIndex1(FSOUND_Stream_GetTime(d.musicStream));
    d.mesh->draw(0, 0);  // where the previous frame left it
    placeMeshAtSample(d);
    // The trail is emitted 5 units behind the ship.
    d.particles->setOrigin(Vec3(d.mesh->getX(), d.mesh->getY(), static_cast<double>(d.mesh->getZ()) + 5.0));
    d.particles->draw();
    d.particles->update();
}

void drawFlightScene2() {
    DemoState& d = demoState;
    d.pathIndex = flightIndex2(FSOUND_Stream_GetTime(d.musicStream));
    if (!d.pathRebuilt) {
        d.pathIndex = show::kLastPathSample;
        Vec3* points = makePath2Points();
        delete d.path;
        d.path = new BezierPath();
        d.path->build(kControlPoints, points, show::kPathSamples);
        d.pathRebuilt = true;
    }
    d.mesh->draw(1, d.pathIndex);
    placeMeshAtSample(d);
}
