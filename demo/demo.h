// demo.h - the show: scene set-up, the music clock and the timeline.
//
// initScene() builds everything a new GL context needs (GL state, flight path,
// cube map, card textures, mesh, particle trail) and starts the music last, so
// loading never eats into the show. drawScene() reads the music's play position
// once per frame and draws the phase it falls in:
//
//     0 <= t < 7000    title card          18000 <= t < 30000  flight scene 2
//  7000 <= t < 18000   flight scene 1      30000 <= t < 52000  end card
//
// and ends the process with status 0 from 52000 ms on. Nothing in the show
// counts time itself: a late frame simply lands in a later phase.
#pragma once

#include <cstdint>

struct FSOUND_STREAM;
class EnvironmentCubeMap;
class BezierPath;
class Mesh;
class ParticleSystem;

// Process-wide. Scene 2 replaces path 1 by path 2; a new set-up (F1) releases
// the earlier set-up's cube map, path, mesh and particles before making its own.
// The stream is the sound layer's to stop (a second FSOUND_Init does).
struct DemoState {
    FSOUND_STREAM* musicStream = nullptr;
    int32_t titleTexture = -1;
    int32_t endTexture = -1;
    EnvironmentCubeMap* cubeMap = nullptr;
    BezierPath* path = nullptr;
    Mesh* mesh = nullptr;
    ParticleSystem* particles = nullptr;
    int32_t pathIndex = 0;
    bool pathRebuilt = false;  // never reset, not even by a new set-up
};
extern DemoState demoState;

// Releases the scene objects and puts the demo state back to its start-up
// values, as in a new process (the textures and the stream are the GL
// context's and the sound layer's to release).
void resetDemo();

// Both return true whenever they return; the failures end the process.
bool initScene();
bool drawScene();

// For the show benchmark: when set, initScene calls it as each of its steps
// ends, with the step's name.
extern void (*initSceneStepDone)(const char* step);

enum class Phase { TitleCard, FlightScene1, FlightScene2, EndCard, Over };
Phase phaseAt(int32_t clockMs);

// Path indices of the flight scenes for a clock reading, clamped to 0..999.
int32_t flightIndex1(int32_t clockMs);
int32_t flightIndex2(int32_t clockMs);

// The parts drawScene() dispatches to, each starting from a cleared frame with
// an identity model-view matrix.
void drawTitleCard();
void drawEndCard();
void drawFlightScene1();
void drawFlightScene2();
