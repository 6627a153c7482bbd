// web_sound.h - what the page needs of the web build's music streams.
//
// PLATFORM: a browser page. LIMITATIONS: none beyond web_sound.cpp's.
// DEPENDENCIES: web_audio.js.
#pragma once

// The page's first gesture (a click or a key): the music may start.
void webSoundGesture();
// Silences every stream and holds its clock, as the end of the page's show.
void webSoundStopAll();
