// gl_recorder.h - records the fixed-function GL calls made by the code under test.
//
// Test executables link with --wrap for each function listed in
// gl_recorder.cmake, so every call from the static libraries lands in a
// __wrap_ function here, which records it (while recording is on) and passes it
// on to the real GL.
#pragma once

#include <string>
#include <vector>

namespace glrec {

struct Call {
    std::string name;
    std::vector<double> args;
};

void start();  // clears the log and starts recording
std::vector<Call> stop();

// "glRotatef(90, 0, 1, 0)": args printed with %.9g, enums as numbers.
std::string text(const Call& call);
std::vector<std::string> text(const std::vector<Call>& calls);

}  // namespace glrec
